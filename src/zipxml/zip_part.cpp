#include "zipxml/zip_part.h"

#include <zip.h>

#include <filesystem>
#include <system_error>

#include "common/exception.h"

namespace zipxml {

namespace {

// Deflate reaches about 1000:1 at most on a single part; real sheets stay far below 100:1.
constexpr uint64_t kFixedRoom = 16u << 20;
constexpr uint64_t kRatio = 256;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

} // namespace

TZipArchive::TZipArchive(const std::string &Path) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(Path, ec);
  if (ec)
    throw common::Exception("Cannot open file " + Path);
  int code = 0;
  FArchive = zip_open(Path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (!FArchive)
    throw common::Exception("The file is not a readable zip archive (" + ZipErrorText(code) + ")");
  FLimit = kFixedRoom + kRatio * size;
}

TZipArchive::~TZipArchive() {
  if (FArchive)
    zip_discard(FArchive);
}

bool TZipArchive::Has(const std::string &Part) const { return zip_name_locate(FArchive, Part.c_str(), 0) >= 0; }

zip_file *TZipArchive::OpenPart(const std::string &Part) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat(FArchive, Part.c_str(), 0, &stat) != 0)
    throw common::Exception("The workbook has no part " + Part);
  if ((stat.valid & ZIP_STAT_SIZE) && stat.size > FLimit - FInflated)
    throw common::Exception("The part " + Part + " would inflate past " + std::to_string(FLimit) +
                            " bytes, more than this file can hold: the file is damaged or a zip bomb");
  zip_file *file = zip_fopen(FArchive, Part.c_str(), 0);
  if (!file)
    throw common::Exception("Cannot read the part " + Part + " (" + zip_strerror(FArchive) + ")");
  return file;
}

int64_t TZipArchive::ReadSome(zip_file *File, const std::string &Part, char *Buffer, uint64_t Size) {
  const zip_int64_t n = zip_fread(File, Buffer, Size);
  if (n < 0)
    throw common::Exception("The part " + Part + " is damaged (" + zip_file_strerror(File) + ")");
  FInflated += static_cast<uint64_t>(n);
  if (FInflated > FLimit)
    throw common::Exception("The part " + Part + " inflates past " + std::to_string(FLimit) +
                            " bytes, more than this file can hold: the file is damaged or a zip bomb");
  return n;
}

std::string TZipArchive::ReadPart(const std::string &Part) {
  zip_file *file = OpenPart(Part);
  std::string text;
  try {
    char buffer[65536];
    while (const int64_t n = ReadSome(file, Part, buffer, sizeof buffer))
      text.append(buffer, static_cast<size_t>(n));
  } catch (...) {
    zip_fclose(file);
    throw;
  }
  zip_fclose(file);
  return text;
}

TXmlPart::TXmlPart(TZipArchive &Archive, const std::string &Part) : FPart(Part), FArchive(&Archive) {
  FFile = Archive.OpenPart(Part);
  auto read = [](void *context, char *buffer, int length) -> int {
    auto *self = static_cast<TXmlPart *>(context);
    try {
      return static_cast<int>(self->FArchive->ReadSome(self->FFile, self->FPart, buffer,
                                                         static_cast<uint64_t>(length)));
    } catch (const std::exception &e) {
      self->FReadError = e.what();
      return -1;
    }
  };
  FReader = xmlReaderForIO(read, nullptr, this, Part.c_str(), nullptr, XML_PARSE_NONET);
  Open();
}

TXmlPart::TXmlPart(std::string Text, const std::string &Part) : FPart(Part), FText(std::move(Text)) {
  if (FText.size() > INT32_MAX)
    throw common::Exception("The part " + Part + " is too large");
  FReader = xmlReaderForMemory(FText.data(), static_cast<int>(FText.size()), Part.c_str(), nullptr, XML_PARSE_NONET);
  Open();
}

void TXmlPart::Open() {
  if (!FReader) {
    if (FFile)
      zip_fclose(FFile);
    throw common::Exception("Cannot read the part " + FPart);
  }
  xmlTextReaderSetStructuredErrorHandler(FReader, &TXmlPart::OnError, this);
}

TXmlPart::~TXmlPart() {
  xmlFreeTextReader(FReader);
  if (FFile)
    zip_fclose(FFile);
}

void TXmlPart::OnError(void *Self, xmlErrorPtr Error) {
  auto *self = static_cast<TXmlPart *>(Self);
  if (!self->FError.empty() || !Error || Error->level < XML_ERR_ERROR)
    return;
  self->FError = Error->message ? Error->message : "unknown error";
  while (!self->FError.empty() && (self->FError.back() == '\n' || self->FError.back() == ' '))
    self->FError.pop_back();
  self->FErrorLine = Error->line;
}

void TXmlPart::Fail(const std::string &Reason) const {
  throw common::Exception("Malformed XML in " + FPart + ", line " +
                          std::to_string(FErrorLine ? FErrorLine : xmlTextReaderGetParserLineNumber(FReader)) +
                          ": " + Reason);
}

bool TXmlPart::Next() {
  const int r = xmlTextReaderRead(FReader);
  if (r == 1)
    return true;
  if (!FReadError.empty())
    throw common::Exception(FReadError);
  if (r < 0 || !FError.empty())
    Fail(FError.empty() ? "the document ends early" : FError);
  return false;
}

std::string TXmlPart::ElementText() {
  std::string text;
  if (IsEmptyElement())
    return text;
  const int depth = Depth();
  while (Next()) {
    if (IsText())
      text += Value();
    else if (IsEnd() && Depth() == depth)
      break;
  }
  return text;
}

void TXmlPart::SkipElement() {
  if (IsEmptyElement())
    return;
  const int depth = Depth();
  while (Next())
    if (IsEnd() && Depth() == depth)
      break;
}

} // namespace zipxml
