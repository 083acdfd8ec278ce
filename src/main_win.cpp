// zelk-window: the tray program. Its parts are the Win32 shell, the window loop and the page;
// here they are put together with the web view on WebView2.
#include <windows.h>

#include <string>

#include "page.h"
#include "web_view_win.h"
#include "window_main_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zelk::WindowProgram program;
  program.page = std::string(zelk::page_html());
  program.make_web_view = zelk::make_webview2;
  program.make_handler = zelk::window_loop_handler;
  return zelk::window_main(program);
}
