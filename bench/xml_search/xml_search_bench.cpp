// Validation and find over the open 100 MB record document: validating the parsed document
// against a schema for its records (as it is, and after an edit that breaks its last record),
// Find All of a name every record has, Find Next of a text only the last record holds.
// The command-line validators are timed apart (see the commands below), on the same files:
//   xmllint --noout --schema /tmp/xe_bench_records.xsd /tmp/xe_bench_records_xsd.xml
//   xsdvalidate /tmp/xe_bench_records_xsd.xml; xsdvalidate --all /tmp/xe_bench_records_xsd.xml
#include "records_file.h"
#include "xmlmodel/find.h"
#include "xmlmodel/xsd_validate.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

// The open document, parsed once for all benchmarks.
xmlmodel::TOrbMainXML &Document() {
  static const std::unique_ptr<xmlmodel::TOrbMainXML> doc = [] {
    xebench::MakeRecordsFileWithSchema();
    auto d = std::make_unique<xmlmodel::TOrbMainXML>();
    d->FileName = xebench::kRecordsWithSchemaFile;
    d->Load();
    return d;
  }();
  return *doc;
}

xmlNode *LastRecord() { return xmlLastElementChild(Document().XMLDoc().DocumentElement()); }

void BM_ValidateOpenDocument(benchmark::State &state) {
  xmlmodel::TOrbMainXML &doc = Document();
  std::size_t errors = 0;
  for (auto _ : state)
    errors = xmlmodel::ValidateDocument(doc).Errors.size();
  state.counters["errors"] = static_cast<double>(errors);
}

// An edit breaks the last record's amount: the time until its error, with its node and path.
void BM_ValidateEditedDocument(benchmark::State &state) {
  xmlmodel::TOrbMainXML &doc = Document();
  xmlNode *amount = xmlLastElementChild(LastRecord());
  amount = amount->prev->prev; // the text before note, then amount
  std::string path;
  doc.XMLDoc().SetText(amount, "twelve");
  for (auto _ : state) {
    xmlmodel::ValidationErrors result = xmlmodel::ValidateDocument(doc);
    if (result.Errors.size() != 1 || result.Errors[0].Node != amount) {
      state.SkipWithError("the edit was not found");
      break;
    }
    path = result.Errors[0].Path;
  }
  doc.XMLDoc().SetText(amount, "1.00");
  state.SetLabel(path);
}

void BM_FindAllName(benchmark::State &state) {
  xmlmodel::FindOptions options;
  options.Text = "record";
  options.MatchCase = true;
  options.WholeWord = true;
  options.InAttributeNames = options.InAttributeValues = options.InText = options.InComments = false;
  std::size_t hits = 0;
  for (auto _ : state) {
    xmlmodel::TFinder finder(Document().XMLDoc(), options);
    hits = finder.All().size();
  }
  state.counters["hits"] = static_cast<double>(hits);
}

void BM_FindNextTextAtEnd(benchmark::State &state) {
  xmlmodel::FindOptions options;
  // Only the last record's email holds its number followed by "@".
  xmlChar *id = xmlGetProp(LastRecord(), BAD_CAST "id");
  options.Text = "customer" + std::string(reinterpret_cast<const char *>(id)) + "@";
  xmlFree(id);
  bool found = false;
  for (auto _ : state) {
    xmlmodel::TFinder finder(Document().XMLDoc(), options);
    found = static_cast<bool>(finder.Next(xmlmodel::FindHit::At(Document().XMLDoc().DocumentElement())));
  }
  state.counters["found"] = found;
}

void BM_FindAllXPath(benchmark::State &state) {
  xmlmodel::FindOptions options;
  options.XPath = true;
  options.Text = "//record/email";
  std::size_t hits = 0;
  for (auto _ : state) {
    xmlmodel::TFinder finder(Document().XMLDoc(), options);
    hits = finder.All().size();
  }
  state.counters["hits"] = static_cast<double>(hits);
}

} // namespace

BENCHMARK(BM_ValidateOpenDocument)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ValidateEditedDocument)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindAllName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindNextTextAtEnd)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindAllXPath)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
