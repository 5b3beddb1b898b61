/* Puts exact bytes on the CLIPBOARD and serves them until killed.
 * Usage: clipboard-source --text FILE --html FILE --png FILE
 * The files' bytes are offered as UTF8_STRING, text/html and image/png, in that order. */
#include <gtk/gtk.h>
#include <string.h>

static GBytes *contents[3];
static const char *kTargets[3] = {"UTF8_STRING", "text/html", "image/png"};

static void provide(GtkClipboard *clipboard, GtkSelectionData *data, guint info, gpointer user) {
  gsize size = 0;
  const guchar *bytes = g_bytes_get_data(contents[info], &size);
  gtk_selection_data_set(data, gtk_selection_data_get_target(data), 8, bytes, (gint)size);
}

static void lost(GtkClipboard *clipboard, gpointer user) { gtk_main_quit(); }

static GBytes *readFile(const char *path) {
  gchar *text = NULL;
  gsize size = 0;
  if (!g_file_get_contents(path, &text, &size, NULL)) return NULL;
  return g_bytes_new_take(text, size);
}

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  const char *options[3] = {"--text", "--html", "--png"};
  for (int i = 1; i + 1 < argc; i += 2) {
    for (int k = 0; k < 3; ++k) {
      if (strcmp(argv[i], options[k]) == 0) contents[k] = readFile(argv[i + 1]);
    }
  }
  GtkTargetEntry entries[3];
  guint count = 0;
  for (guint k = 0; k < 3; ++k) {
    if (contents[k] == NULL) continue;
    entries[count].target = (gchar *)kTargets[k];
    entries[count].flags = 0;
    entries[count].info = k;
    ++count;
  }
  GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!gtk_clipboard_set_with_data(clipboard, entries, count, provide, lost, NULL)) return 1;
  gtk_main();
  return 0;
}
