// A window whose life the tests drive by signals, for the watching tests and benchmarks:
//
//   tavren-fixture-lifecycle-window [--title TEXT]
//
// SIGUSR1 opens another window, titled "TEXT 2", "TEXT 3", ...; SIGUSR2 renames the first
// window to "TEXT renamed"; SIGHUP closes the window opened last. The program ends when its
// last window is closed.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

static const char* baseTitle = "Lifecycle";
static GPtrArray* windows;
static int opened = 0;

static void onDestroy(GtkWidget* window, gpointer data) {
  (void)data;
  g_ptr_array_remove(windows, window);
  if (windows->len == 0) gtk_main_quit();
}

static void openWindow(void) {
  char title[512];
  if (++opened == 1) {
    snprintf(title, sizeof title, "%s", baseTitle);
  } else {
    snprintf(title, sizeof title, "%s %d", baseTitle, opened);
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  gtk_container_add(GTK_CONTAINER(window), gtk_label_new(title));
  g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), NULL);
  g_ptr_array_add(windows, window);
  gtk_widget_show_all(window);
}

static gboolean onOpen(gpointer data) {
  (void)data;
  openWindow();
  return G_SOURCE_CONTINUE;
}

static gboolean onRename(gpointer data) {
  (void)data;
  if (windows->len > 0) {
    char title[512];
    snprintf(title, sizeof title, "%s renamed", baseTitle);
    gtk_window_set_title(GTK_WINDOW(g_ptr_array_index(windows, 0)), title);
  }
  return G_SOURCE_CONTINUE;
}

static gboolean onClose(gpointer data) {
  (void)data;
  if (windows->len > 0) gtk_widget_destroy(g_ptr_array_index(windows, windows->len - 1));
  return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--title") == 0) {
      baseTitle = argv[i + 1];
    } else {
      return 2;
    }
  }
  windows = g_ptr_array_new();
  g_unix_signal_add(SIGUSR1, onOpen, NULL);
  g_unix_signal_add(SIGUSR2, onRename, NULL);
  g_unix_signal_add(SIGHUP, onClose, NULL);
  openWindow();
  gtk_main();
  return 0;
}
