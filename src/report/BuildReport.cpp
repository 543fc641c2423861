#include "report/BuildReport.h"

#include "platform/FileIO.h"

namespace ordana {

// Seam until the log collection and the page writer land.
void BuildReport(const std::u16string&, const std::u16string&, TDate, TDate) {
  throw EOrdanaError("EAbort", "report building is not available yet");
}

}  // namespace ordana
