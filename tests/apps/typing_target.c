// A text entry and a click pad for the remote input tests. What arrives is written to files, so
// that a test compares with exactly what the toolkit received:
//
//   tavren-fixture-typing-target --out PREFIX [--title TEXT]
//
//   PREFIX.text    the entry's whole text, rewritten (by rename) once the entry has taken every
//                  event queued; typing a key at a time rewrites it after the last key
//   PREFIX.clicks  one line per press on the pad: its button and click number (1, 2 or 3)
//   PREFIX.where   "x y" of the pad's centre and "x y" of the entry's centre, root coordinates,
//                  written once the window is placed and active, and again when it moves
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

static const char* prefix = NULL;
static GtkWidget* entry = NULL;
static GtkWidget* pad = NULL;
static GtkWidget* window = NULL;

static void writeFile(const char* suffix, const char* text, const char* mode) {
  char path[4096], temp[4200];
  snprintf(path, sizeof path, "%s.%s", prefix, suffix);
  const int replace = strcmp(mode, "w") == 0;
  snprintf(temp, sizeof temp, "%s.tmp", path);
  FILE* f = fopen(replace ? temp : path, mode);
  if (!f) return;
  fputs(text, f);
  fclose(f);
  if (replace) rename(temp, path);
}

static guint textWrite = 0;

static gboolean writeText(gpointer data) {
  (void)data;
  textWrite = 0;
  writeFile("text", gtk_entry_get_text(GTK_ENTRY(entry)), "w");
  return G_SOURCE_REMOVE;
}

// The file follows the entry when the main loop is idle: rewriting it per key would cost the
// entry as much time as a seventh of what typing costs it, and that time is the fixture's, not
// the typist's.
static void onChanged(GtkEditable* editable, gpointer data) {
  (void)editable;
  (void)data;
  if (textWrite == 0) textWrite = g_idle_add_full(G_PRIORITY_LOW, writeText, NULL, NULL);
}

static gboolean onPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  (void)widget;
  (void)data;
  int number = event->type == GDK_3BUTTON_PRESS ? 3 : event->type == GDK_2BUTTON_PRESS ? 2 : 1;
  char line[64];
  snprintf(line, sizeof line, "%u %d\n", event->button, number);
  writeFile("clicks", line, "a");
  return TRUE;
}

static void centre(GtkWidget* widget, int* x, int* y) {
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  int ox = 0, oy = 0;
  gdk_window_get_origin(gtk_widget_get_window(widget), &ox, &oy);
  // Widgets without a window of their own are placed within their parent's window.
  if (!gtk_widget_get_has_window(widget)) {
    ox += a.x;
    oy += a.y;
  }
  *x = ox + a.width / 2;
  *y = oy + a.height / 2;
}

static void writeWhere(void) {
  int px, py, ex, ey;
  centre(pad, &px, &py);
  centre(entry, &ex, &ey);
  static char last[128];
  char text[128];
  snprintf(text, sizeof text, "%d %d\n%d %d\n", px, py, ex, ey);
  if (strcmp(text, last) == 0) return;
  strcpy(last, text);
  writeFile("where", text, "w");
}

// Once the window is on screen with its widgets laid out, and again whenever it has moved: a
// reparenting window manager moves the frame, which the client's own configure events do not
// always tell.
static gboolean whenShown(gpointer data) {
  (void)data;
  GtkAllocation a;
  gtk_widget_get_allocation(pad, &a);
  // Active: the window manager has placed it and given it the focus.
  if (gtk_widget_get_mapped(pad) && a.width > 1 && gtk_window_is_active(GTK_WINDOW(window))) {
    writeWhere();
  }
  return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const char* title = "Tavren typing target";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--out") == 0) {
      prefix = argv[i + 1];
    } else if (strcmp(argv[i], "--title") == 0) {
      title = argv[i + 1];
    } else {
      return 2;
    }
  }
  if (!prefix) return 2;
  writeFile("text", "", "w");
  writeFile("clicks", "", "w");

  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  entry = gtk_entry_new();
  g_signal_connect(entry, "changed", G_CALLBACK(onChanged), NULL);
  pad = gtk_event_box_new();
  gtk_widget_add_events(pad, GDK_BUTTON_PRESS_MASK);
  gtk_widget_set_size_request(pad, 400, 200);
  g_signal_connect(pad, "button-press-event", G_CALLBACK(onPress), NULL);
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), pad, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_timeout_add(50, whenShown, NULL);
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(entry);
  gtk_main();
  return 0;
}
