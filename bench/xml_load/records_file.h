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

// The record document with a schema reference, and the schema, for the validation benchmarks.
inline const char *const kRecordsWithSchemaFile = "/tmp/xe_bench_records_xsd.xml";
inline const char *const kRecordsSchemaFile = "/tmp/xe_bench_records.xsd";

inline const char *const kRecordsSchemaText = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="records">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="record" minOccurs="0" maxOccurs="unbounded">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="name" type="xs:string"/>
              <xs:element name="email">
                <xs:simpleType>
                  <xs:restriction base="xs:string"><xs:pattern value="[^@]+@[^@]+"/></xs:restriction>
                </xs:simpleType>
              </xs:element>
              <xs:element name="city" type="xs:string"/>
              <xs:element name="amount" type="xs:decimal"/>
              <xs:element name="note" type="xs:string"/>
            </xs:sequence>
            <xs:attribute name="id" type="xs:nonNegativeInteger" use="required"/>
            <xs:attribute name="type" type="xs:string"/>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

// Writes the schema and the record document that names it (unless there at full size already).
inline void MakeRecordsFileWithSchema() {
  std::ofstream(kRecordsSchemaFile, std::ios::binary) << kRecordsSchemaText;
  MakeRecordsFile(kRecordsWithSchemaFile, " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                          "xsi:noNamespaceSchemaLocation=\"xe_bench_records.xsd\"");
}

} // namespace xebench
