#include "platform/Arguments.h"

#include "platform/TextCodec.h"

namespace ordana {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");

std::vector<std::string> ArgumentsAsUtf8(int argc, const wchar_t* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i)
    args.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])).bytes());
  return args;
}

}  // namespace ordana
