// A text entry and a click pad for the remote input tests. What arrives is written to files, so
// that a test compares with exactly what the toolkit received:
//
//   tavren-fixture-typing-target --out PREFIX [--title TEXT]
//
//   PREFIX.text    the entry's whole text, rewritten (by rename) after every change
//   PREFIX.clicks  one line per press on the pad: its button and click number (1, 2 or 3)
//   PREFIX.where   "x y" of the pad's centre and "x y" of the entry's centre, root coordinates,
//                  written once the window is mapped
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

static const char* prefix = NULL;
static GtkWidget* entry = NULL;
static GtkWidget* pad = NULL;

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

static void onChanged(GtkEditable* editable, gpointer data) {
  (void)data;
  writeFile("text", gtk_entry_get_text(GTK_ENTRY(editable)), "w");
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

static gboolean onMapped(GtkWidget* window, GdkEvent* event, gpointer data) {
  (void)window;
  (void)event;
  (void)data;
  int px, py, ex, ey;
  centre(pad, &px, &py);
  centre(entry, &ex, &ey);
  char text[128];
  snprintf(text, sizeof text, "%d %d\n%d %d\n", px, py, ex, ey);
  writeFile("where", text, "w");
  return FALSE;
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

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  entry = gtk_entry_new();
  g_signal_connect(entry, "changed", G_CALLBACK(onChanged), NULL);
  pad = gtk_event_box_new();
  gtk_widget_set_size_request(pad, 400, 200);
  gtk_container_add(GTK_CONTAINER(pad), gtk_label_new("click here"));
  g_signal_connect(pad, "button-press-event", G_CALLBACK(onPress), NULL);
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), pad, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect_after(window, "map-event", G_CALLBACK(onMapped), NULL);
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(entry);
  gtk_main();
  return 0;
}
