// The settings reader: arbitrary "User_Setting.Txt" lines restored over the
// defaults. What was restored must write out and read back the same.
#include <cstdlib>

#include "environment/settings.h"
#include "fuzz/fuzz_common.h"

using namespace velmora;
using velmora::environment::Settings;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  Settings settings;
  settings.restore(fuzz::lines_of(fuzz::bytes_of(data, size)));
  settings.consoleTabPitch();
  Settings::normaliseTabWidth(settings.tabWidth);

  Lines written = settings.toLines();
  Settings again;
  if (!again.restore(written) || again.toLines() != written) std::abort();
  return 0;
}
