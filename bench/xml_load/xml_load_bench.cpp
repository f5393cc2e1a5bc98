// Loading a large record-oriented document: the document object alone, with every item's
// child list built (what counting the children below the root does), and libxml2's own parse
// of the same file for comparison. Also reports the item tree's memory per item.
#include "xmlmodel/xml_obj.h"
#include "records_file.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <filesystem>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

const char *const kFile = "/tmp/xe_bench_records.xml";

const std::string &BenchFile() {
  static const std::string path = [] {
    xebench::MakeRecordsFile(kFile);
    return std::string(kFile);
  }();
  return path;
}

long BuildAllChildren(xmlmodel::TOrbXMLItem *root) {
  long items = 0;
  std::vector<xmlmodel::TOrbXMLItem *> pending{root};
  while (!pending.empty()) {
    xmlmodel::TOrbXMLItem *item = pending.back();
    pending.pop_back();
    xmlmodel::TOrbXMLList *children = item->Children();
    items += children->Count();
    for (int i = 0; i < children->Count(); ++i)
      pending.push_back(children->Items(i));
  }
  return items;
}

void BM_DocumentLoad(benchmark::State &state) {
  const std::string &file = BenchFile();
  for (auto _ : state) {
    auto doc = std::make_unique<xmlmodel::TOrbMainXML>();
    doc->FileName = file;
    doc->Load();
    if (!doc->RootItem()->HasNode()) {
      state.SkipWithError("load failed");
      break;
    }
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

void BM_DocumentLoadAndAllChildren(benchmark::State &state) {
  const std::string &file = BenchFile();
  long items = 0;
  double bytesPerItem = 0;
  for (auto _ : state) {
    auto doc = std::make_unique<xmlmodel::TOrbMainXML>();
    doc->FileName = file;
    doc->Load();
    const size_t before = mallinfo2().uordblks;
    items = BuildAllChildren(doc->RootItem());
    const size_t after = mallinfo2().uordblks;
    bytesPerItem = static_cast<double>(after - before) / static_cast<double>(items);
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["items"] = static_cast<double>(items);
  state.counters["item_bytes_each"] = bytesPerItem;
  state.counters["sizeof_item"] = sizeof(xmlmodel::TOrbXMLItem);
  state.counters["sizeof_list"] = sizeof(xmlmodel::TOrbXMLList);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

void BM_LibxmlReadFile(benchmark::State &state) {
  const std::string &file = BenchFile();
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES);
    if (doc == nullptr) {
      state.SkipWithError("parse failed");
      break;
    }
    state.PauseTiming();
    xmlFreeDoc(doc);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(file)));
}

} // namespace

BENCHMARK(BM_LibxmlReadFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DocumentLoad)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DocumentLoadAndAllChildren)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
