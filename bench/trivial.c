/* Benchmark helper: the smallest Win32 GUI program, linked like the bootstrapper
 * (static, GUI subsystem). Its peak memory under Wine is what any process costs; the
 * bootstrapper's is measured against it. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  return 0;
}
