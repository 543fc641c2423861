#pragma once
// The identifiers of the windows' controls (GetDlgItem), named after the
// controls they stand for.
namespace ordana::ids {

// The report window.
inline constexpr int Edit1 = 101;
inline constexpr int Button1 = 102;
inline constexpr int ComboBox1 = 103;
inline constexpr int DateTimePicker1 = 104;
inline constexpr int DateTimePicker2 = 105;
inline constexpr int Button3 = 106;
inline constexpr int Button2 = 107;
inline constexpr int Button4 = 108;
inline constexpr int RadioButton1 = 109;
inline constexpr int FolderLabel = 121;  // "Путь к папке с отчетами Velmora:"
inline constexpr int MonthLabel = 122;   // "Месяц:"
inline constexpr int FromLabel = 123;    // "Период от:"
inline constexpr int ToLabel = 124;      // "до"
inline constexpr int FormatLabel = 125;  // "Формат отчета:"

// The About window (its OK button is IDOK).
inline constexpr int Label1 = 201;
inline constexpr int HyperlinkLabel1 = 202;
inline constexpr int HyperlinkLabel2 = 203;
inline constexpr int Picture1 = 204;
inline constexpr int Picture2 = 205;

}  // namespace ordana::ids
