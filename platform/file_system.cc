#include "platform/file_system.h"

namespace korvane {

std::string_view fileTypeText(FileType type) {
  switch (type) {
    case FileType::directory:
      return "NSFileTypeDirectory";
    case FileType::regular:
      return "NSFileTypeRegular";
    case FileType::symbolicLink:
      return "NSFileTypeSymbolicLink";
    case FileType::socket:
      return "NSFileTypeSocket";
    case FileType::characterSpecial:
      return "NSFileTypeCharacterSpecial";
    case FileType::blockSpecial:
      return "NSFileTypeBlockSpecial";
    case FileType::unknown:
      break;
  }
  return "NSFileTypeUnknown";
}

}  // namespace korvane
