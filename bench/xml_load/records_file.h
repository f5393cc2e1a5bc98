#pragma once

// The large record-oriented document the XML benchmarks share, made once under /tmp.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace xebench {

constexpr std::uintmax_t kRecordsTargetSize = 100u * 1024 * 1024;

// Writes path (unless it is there at full size already) with records up to 100 MB; rootAttributes
// go into the root's start tag as written (e.g. a schema reference).
inline void MakeRecordsFile(const std::string &path, const std::string &rootAttributes = {}) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size >= kRecordsTargetSize)
    return;
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<records" << rootAttributes << ">\n";
  std::uintmax_t written = 0;
  char buffer[512];
  for (long i = 0; written < kRecordsTargetSize; ++i) {
    int n = std::snprintf(buffer, sizeof buffer,
                          "  <record id=\"%ld\" type=\"customer\">\n"
                          "    <name>Customer %ld</name>\n"
                          "    <email>customer%ld@example.com</email>\n"
                          "    <city>City %ld</city>\n"
                          "    <amount>%ld.%02ld</amount>\n"
                          "    <note>Ordered &amp; paid; see ticket #%ld</note>\n"
                          "  </record>\n",
                          i, i, i, i % 977, i % 10007, i % 100, i * 7);
    out.write(buffer, n);
    written += static_cast<std::uintmax_t>(n);
  }
  out << "</records>\n";
}

} // namespace xebench
