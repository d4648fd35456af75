// The suffix rule of the derived grids' file names.
#include "setup/derived_file_names.h"

namespace tavro {

std::string DerivedFileName(std::string_view source, std::string_view suffix,
                            std::string_view suffixWithoutExtension) {
  const std::size_t slash = source.rfind('/');
  const std::size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = source.rfind('.');
  std::string name;
  if (dot != std::string_view::npos && dot >= fileStart) {
    name = source.substr(0, dot);
    name += '.';
    name += suffix;
  } else {
    name = source;
    name += '.';
    name += suffixWithoutExtension.empty() ? suffix : suffixWithoutExtension;
  }
  return name;
}

} // namespace tavro
