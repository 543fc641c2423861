#pragma once
// The two addresses of the About window's link labels: the product's web page
// and the support mail, whose subject names the playout program.
namespace ordana {

inline constexpr char16_t kProductWebAddress[] = u"https://ordana-report.example/";
inline constexpr char16_t kSupportMailAddress[] = u"support@ordana-report.example";
inline constexpr char16_t kSupportMailUrl[] = u"mailto:support@ordana-report.example?subject=Velmora";

}  // namespace ordana
