#include "zipxml/zip_part.h"

#include <zip.h>

#include <libxml/SAX2.h>

#include <algorithm>
#include <exception>
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

bool TZipArchive::Has(const std::string &Part) const {
  return zip_name_locate(FArchive, Part.c_str(), 0) >= 0;
}

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

namespace {
// Bytes inflated and parsed at a time: large enough that the parser's per-call cost vanishes,
// small enough that one block's nodes stay in the cache.
constexpr size_t kBlock = 64 * 1024;
} // namespace

TXmlPart::TXmlPart(TZipArchive &Archive, const std::string &Part) : FPart(Part), FArchive(&Archive) {
  FFile = Archive.OpenPart(Part);
  Open();
}

TXmlPart::TXmlPart(std::string Text, const std::string &Part) : FPart(Part), FText(std::move(Text)) {
  Open();
}

void TXmlPart::Open() {
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = &TXmlPart::OnStart;
  sax.endElementNs = &TXmlPart::OnEnd;
  sax.characters = &TXmlPart::OnText;
  sax.ignorableWhitespace = &TXmlPart::OnText;
  sax.cdataBlock = &TXmlPart::OnText;
  sax.serror = &TXmlPart::OnError;
  FParser = xmlCreatePushParserCtxt(&sax, this, nullptr, 0, FPart.c_str());
  if (!FParser) {
    if (FFile)
      zip_fclose(FFile);
    throw common::Exception("Cannot read the part " + FPart);
  }
  xmlCtxtUseOptions(FParser, XML_PARSE_NONET);
}

TXmlPart::~TXmlPart() {
  xmlFreeParserCtxt(FParser);
  if (FFile)
    zip_fclose(FFile);
}

std::string_view TXmlPart::View(const xmlChar *s) {
  if (!s)
    return {};
  // Names are the parser's interned strings: a handful of pointers, each measured once.
  TName &name = FNames[(reinterpret_cast<uintptr_t>(s) >> 3) % std::size(FNames)];
  if (name.Interned != s)
    name = {s, std::string_view(reinterpret_cast<const char *>(s))};
  return name.View;
}

uint32_t TXmlPart::Keep(const char *Bytes, size_t Size) {
  const size_t at = FBytes.size();
  FBytes.append(Bytes, Size);
  return static_cast<uint32_t>(at);
}

// Libxml2 cannot pass an exception on: a callback's fault stops the parser and is raised again
// once it has returned.
template <class F> void TXmlPart::Guarded(void *Self, F &&Body) {
  auto *self = static_cast<TXmlPart *>(Self);
  try {
    Body(*self);
  } catch (...) {
    if (!self->FFault)
      self->FFault = std::current_exception();
    xmlStopParser(self->FParser);
  }
}

void TXmlPart::OnStart(void *Self, const xmlChar *Name, const xmlChar *, const xmlChar *Uri, int,
                       const xmlChar **, int AttributeCount, int Defaulted, const xmlChar **Attributes) {
  Guarded(Self, [&](TXmlPart &self) {
    const uint32_t first = static_cast<uint32_t>(self.FAttributes.size());
    // Attributes a DTD supplies by default are not the file's own.
    for (int i = 0; i < AttributeCount - Defaulted; ++i) {
      const xmlChar **a = Attributes + 5 * i; // local name, prefix, URI, value start and end
      const auto *value = reinterpret_cast<const char *>(a[3]);
      const size_t size = static_cast<size_t>(a[4] - a[3]);
      self.FAttributes.push_back(
          {self.View(a[0]), self.View(a[2]), self.Keep(value, size), static_cast<uint32_t>(size)});
    }
    self.FNodes.push_back({kStart, false, self.FDepth++, self.View(Name), self.View(Uri), first,
                           static_cast<uint32_t>(self.FAttributes.size()) - first,
                           xmlSAX2GetLineNumber(self.FParser)});
  });
}

void TXmlPart::OnEnd(void *Self, const xmlChar *Name, const xmlChar *, const xmlChar *Uri) {
  Guarded(Self, [&](TXmlPart &self) {
    const int depth = --self.FDepth;
    if (!self.FNodes.empty() && self.FNodes.back().Type == kStart && self.FNodes.back().Depth == depth) {
      self.FNodes.back().Empty = true;
      return;
    }
    // The element's start node may be handed out already (it ended a block); it names the end.
    self.FNodes.push_back(
        {kEnd, false, depth, self.View(Name), self.View(Uri), 0, 0, xmlSAX2GetLineNumber(self.FParser)});
  });
}

void TXmlPart::OnText(void *Self, const xmlChar *Text, int Size) {
  Guarded(Self, [&](TXmlPart &self) {
    const uint32_t at = self.Keep(reinterpret_cast<const char *>(Text), static_cast<size_t>(Size));
    if (!self.FNodes.empty() && self.FNodes.back().Type == kText) {
      self.FNodes.back().Size += static_cast<uint32_t>(Size);
      return;
    }
    self.FNodes.push_back({kText,
                           false,
                           self.FDepth,
                           {},
                           {},
                           at,
                           static_cast<uint32_t>(Size),
                           xmlSAX2GetLineNumber(self.FParser)});
  });
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
  int line = FErrorLine;
  if (!line)
    line = FAt < FNodes.size() ? FNodes[FAt].Line : xmlSAX2GetLineNumber(FParser);
  throw common::Exception("Malformed XML in " + FPart + ", line " + std::to_string(line) + ": " + Reason);
}

void TXmlPart::Feed(const char *Bytes, int Size, bool Last) {
  xmlParseChunk(FParser, Bytes, Size, Last);
  // A fatal error stops the parser; what follows it is not read.
  if (Last || FParser->instate == XML_PARSER_EOF || FParser->disableSAX)
    FDone = true;
  if (FFault)
    std::rethrow_exception(FFault);
}

void TXmlPart::Fill() {
  FNodes.clear();
  FAttributes.clear();
  FBytes.clear();
  FAt = 0;
  while (FNodes.empty() && !FDone) {
    if (FFile) {
      char block[kBlock];
      const int64_t n = FArchive->ReadSome(FFile, FPart, block, sizeof block);
      Feed(block, static_cast<int>(n), n == 0);
    } else {
      const size_t n = std::min(kBlock, FText.size() - FTextAt);
      Feed(FText.data() + FTextAt, static_cast<int>(n), n == 0);
      FTextAt += n;
    }
  }
  if (FNodes.empty() && (!FError.empty() || !FParser->wellFormed))
    Fail(FError.empty() ? "the document ends early" : FError);
}

bool TXmlPart::Next() {
  if (FAt + 1 < FNodes.size()) {
    ++FAt;
    return true;
  }
  Fill();
  return !FNodes.empty();
}

void TXmlPart::AppendElementText(std::string &Text) {
  if (IsEmptyElement())
    return;
  const int depth = Depth();
  while (Next()) {
    if (IsText())
      Text += Value();
    else if (IsEnd() && Depth() == depth)
      break;
  }
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
