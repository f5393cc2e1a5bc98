// The XSL result window with a large result: 100,000 lines, about 3 MB, as a transformation of a
// record file writes them. Measures the transformation alone and the transformation until its
// window is shown and laid out, so the difference is what the window costs.
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DXE_BENCH=ON -DXE_TESTS=OFF
//   cmake --build build-bench --target xsl_result_bench
//   QT_QPA_PLATFORM=offscreen build-bench/bench/xsl_result/xsl_result_bench
#include "app/xsl_result_window.h"
#include "xmlmodel/dom.h"
#include "xmlmodel/xsl_transform.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char *const kXml = "/tmp/xe_bench_xsl_rows.xml";
const char *const kXsl = "/tmp/xe_bench_xsl_rows.xsl";

void WriteInputs() {
  std::ofstream xml(kXml, std::ios::binary);
  xml << "<rows>\n";
  for (int i = 0; i < 100000; ++i)
    xml << "<row id=\"" << i << "\"><name>customer " << i % 977 << "</name><total>" << i * 3 % 10007
        << "</total></row>\n";
  xml << "</rows>\n";
  std::ofstream xsl(kXsl, std::ios::binary);
  xsl << R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="text"/>
<xsl:template match="/"><xsl:for-each select="rows/row"><xsl:value-of select="@id"/>;<xsl:value-of select="name"/>;<xsl:value-of select="total"/>;paid<xsl:text>&#10;</xsl:text></xsl:for-each></xsl:template>
</xsl:stylesheet>)";
}

std::string Transform() {
  xmlmodel::TOrbXSLTransform transform;
  transform.Transform(kXml, kXsl);
  return std::move(transform.Output);
}

void BM_Transform(benchmark::State &state) {
  std::size_t bytes = 0;
  for (auto _ : state)
    bytes = Transform().size();
  state.counters["result_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Transform)->Unit(benchmark::kMillisecond);

void BM_TransformAndShow(benchmark::State &state) {
  for (auto _ : state) {
    app::TXslResultWindow window(Transform(), QStringLiteral("result"));
    window.resize(900, 600);
    window.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(window.eText->blockCount());
  }
}
BENCHMARK(BM_TransformAndShow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  xmlmodel::InitXmlLibrary();
  QApplication application(argc, argv);
  WriteInputs();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::remove(kXml);
  std::remove(kXsl);
  return 0;
}
