#include "report/HtmlReport.h"

#include <cerrno>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"

namespace ordana {

namespace {

constexpr char16_t kPageHead[] =
    u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=win-1251\" /></head><body>";
constexpr char16_t kTableOpen[] =
    u"<table border=1 cellpadding=0 cellspacing=1 style=\"border-collapse:collapse;\">";
constexpr char16_t kHeading1[] =
    u"<tr><td>Наименование, дата, месяц и время выхода в эфир программы (начало-конец, мин., сек.)</td><td>Название произведений, ";
constexpr char16_t kHeading2[] =
    u"ис- пользуемых в программе</td><td>Авторы (правообладатели) ФИО композитора и автора текста</td><td>Длитель ность звучания произведения";
constexpr char16_t kHeading3[] =
    u"(мин. сек)</td><td>Кол-во испол-нений</td><td>Общая длитель-ность звучания произведения(мин. сек)(гр.4 х гр.5)</td><td>Жанр произве-дения";
constexpr char16_t kHeading4[] =
    u"</td><td>Исполнитель (ФИО испол-нителя или название кол- лектива)</td><td>Источник заимствования фонограмм (код носителя, название производителя)</td>";
constexpr char16_t kColumnNumbers[] =
    u"<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td><td>6</td><td>7</td><td>8</td><td>9</td>";
constexpr char16_t kNoData[] = u"нет данных";
constexpr char16_t kCell[] = u"</td><td>";

// At least two decimal digits, a minus sign in front of negative numbers
// (the values here are far from the 64-bit limits).
void AppendTwoDigits(std::u16string& out, int64_t v) {
  if (v < 0) {
    out += u'-';
    v = -v;
  }
  if (v < 10) out += u'0';
  out += IntToStr(v);
}

void AppendRow(std::u16string& page, const TSongInfo& row, const std::u16string& period) {
  const int64_t total = static_cast<int64_t>(static_cast<uint64_t>(row.Len) *
                                             static_cast<uint64_t>(static_cast<int64_t>(row.PlayCount)));
  page += u"<tr><td>";
  page += period;
  page += kCell;
  page += EscapeXmlText(Trim(row.T.title));
  page += kCell;
  page += kNoData;
  page += kCell;
  page += FormatPlayTime(row.Len);
  page += kCell;
  page += IntToStr(row.PlayCount);
  page += kCell;
  page += FormatPlayTime(total);
  page += kCell;
  page += EscapeXmlText(Trim(row.T.genre));
  page += kCell;
  page += EscapeXmlText(Trim(row.T.artist));
  page += kCell;
  page += kNoData;
  page += u"</td></tr>";
}

}  // namespace

bool IsValidXmlChar(char16_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

std::u16string EscapeXmlText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&#39;"; break;
      default:
        if (IsValidXmlChar(c)) out += c;
    }
  }
  return out;
}

std::u16string FormatPlayTime(int64_t ms) {
  if (ms == 0) return u"??:??";
  const int64_t seconds = ms / 1000;
  const int64_t minutes = seconds / 60;
  const int64_t rest = seconds - 60 * minutes;
  std::u16string out;
  AppendTwoDigits(out, minutes);
  out += u':';
  AppendTwoDigits(out, rest);
  return out;
}

std::u16string ComposeHtmlReport(const std::vector<TSongInfo>& rows, TDate StartDate, TDate EndDate) {
  const std::u16string period = FormatDate(StartDate) + u" - " + FormatDate(EndDate);
  std::u16string page;
  page.reserve(1024 + rows.size() * 256);
  page += kPageHead;
  page += kTableOpen;
  page += kHeading1;
  page += kHeading2;
  page += kHeading3;
  page += kHeading4;
  page += kColumnNumbers;
  for (const TSongInfo& row : rows) AppendRow(page, row, period);
  page += u"</table>";
  page += u"</body></html>";
  return page;
}

void WriteHtmlReport(const std::vector<TSongInfo>& rows, const std::u16string& OutputFile,
                     TDate StartDate, TDate EndDate) {
  // Opened (or created) and locked before the page is composed; a report
  // file created here is removed again when the build fails.
  SaveOptions options;
  options.createIfMissing = true;
  SaveSession file(OutputFile, options);
  if (!file) {
    const SaveStatus& why = file.Status();
    const int err = why.code ? why.code : EIO;
    if (why.failure == SaveFailure::CreateFailed) throw MakeCreateError(OutputFile, err);
    throw MakeOpenError(OutputFile, err);
  }
  const AnsiString bytes = Utf16ToAnsi(ComposeHtmlReport(rows, StartDate, EndDate));
  if (!file.Rewrite([&](ordana::OutputFile& out) { return out.Write(bytes.bytes()); })) throw EWriteError();
}

}  // namespace ordana
