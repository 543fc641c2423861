#include "StartUp.h"

int main(int argc, char** argv) { return ordana::RunReportGui(argc, argv); }
