#include "serial/ValueSource.h"
#include "platform/Utf8Paths.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrune::serial {
namespace {

class List final : public ValueSource {
public:
  List(std::string name, std::vector<std::string> lines)
      : Name(std::move(name)), Lines(std::move(lines)) {}
  uint64_t Capacity() const override { return Lines.size(); }
  SerialValue At(uint64_t position) const override { return {false, 0, Lines.at(position)}; }
  // A list that grows at its end keeps the positions already used.
  std::string Origin() const override { return "list:" + Name; }
  bool Ordered() const override { return false; }

private:
  std::string Name;
  std::vector<std::string> Lines;
};

std::string Trimmed(const std::string &line) {
  const char *space = " \t\r\n";
  size_t first = line.find_first_not_of(space);
  if (first == std::string::npos)
    return {};
  return line.substr(first, line.find_last_not_of(space) - first + 1);
}

} // namespace

std::unique_ptr<ValueSource> ListSource(std::string name, std::vector<std::string> lines) {
  return std::make_unique<List>(std::move(name), std::move(lines));
}

bool ReadListFile(const std::filesystem::path &path, std::vector<std::string> &lines,
                  std::string &error, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int code = errno;
    error = "Cannot read the list file " + Utf8FromPath(path) + ": " + std::strerror(code) + " (" +
            std::to_string(code) + ")";
    return false;
  }
  // Read whole first: the values are those of exactly the bytes read.
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    error = "Cannot read the list file " + Utf8FromPath(path);
    return false;
  }
  lines.clear();
  std::istringstream read(text);
  std::string line;
  while (std::getline(read, line)) {
    std::string value = Trimmed(line);
    if (!value.empty() && value[0] != '#')
      lines.push_back(value);
  }
  if (bytes)
    *bytes = std::move(text);
  return true;
}

} // namespace kestrune::serial
