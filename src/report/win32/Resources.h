// Resource identifiers, shared by the resource script and the code (plain
// defines: the resource compiler reads this file too).
#pragma once
#define ORDANA_IDI_APP 1
