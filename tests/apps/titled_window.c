// Plain top-level windows whose title and size come from the command line, for the window
// inventory tests and benchmarks: they move, resize and minimize them through the window manager
// and compare what the service reports with what the X server says.
//
//   tavren-fixture-titled-window [--title TEXT] [--size WxH] [--count N]
//
// With --count N the windows are titled "TEXT 1" to "TEXT N". The program ends when its last
// window is closed.
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int openWindows = 0;

static void onDestroy(GtkWidget* window, gpointer data) {
  (void)window;
  (void)data;
  if (--openWindows == 0) gtk_main_quit();
}

static void openWindow(const char* title, int width, int height) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_container_add(GTK_CONTAINER(window), gtk_label_new(title));
  g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), NULL);
  ++openWindows;
  gtk_widget_show_all(window);
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const char* title = "Tavren window";
  int width = 320, height = 240, count = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--title") == 0) {
      title = argv[i + 1];
    } else if (strcmp(argv[i], "--size") == 0) {
      if (sscanf(argv[i + 1], "%dx%d", &width, &height) != 2) return 2;
    } else if (strcmp(argv[i], "--count") == 0) {
      count = atoi(argv[i + 1]);
    } else {
      return 2;
    }
  }
  if (width < 1 || height < 1 || count < 1) return 2;
  if (count == 1) {
    openWindow(title, width, height);
  } else {
    for (int n = 1; n <= count; ++n) {
      char numbered[512];
      snprintf(numbered, sizeof numbered, "%s %d", title, n);
      openWindow(numbered, width, height);
    }
  }
  gtk_main();
  return 0;
}
