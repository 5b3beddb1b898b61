// A window of input targets at fixed places, for the background input tests. After every
// change it rewrites a report file, one "name=value" line each, so a test reads what the
// application received without asking the application anything.
//
//   tavren-fixture-input-probe --report PATH [--title TEXT]
//
// Client-area layout (x, y, w, h):
//   button "Press"   10, 10, 120, 40   clicks=N (GtkButton "clicked")
//   pad             140, 10, 120, 40   presses=... each press as BUTTON:COUNT (COUNT 1, 2, 3
//                                      for GDK's single, double and triple presses)
//   entry            10, 60, 300, 30   entry=TEXT; keys=... the last key's keyval name and
//                                      modifiers
//   text view        10,100, 300, 60   selection=SELECTED TEXT
//   list            10,170, 300,100   scroll=VERTICAL ADJUSTMENT VALUE (100 rows)
//   slider          10,280, 300, 40   slider=VALUE (0 to 100, starts at 0)
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

static const char* reportPath = NULL;
static GtkWidget *entry, *textView, *scrolled, *slider;
static int clicks = 0;
static GString* presses;
static GString* lastKey;

static void report(void) {
  if (!reportPath) return;
  GtkTextIter start, end;
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView));
  char* selection = NULL;
  if (gtk_text_buffer_get_selection_bounds(buffer, &start, &end)) {
    selection = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  }
  GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.tmp", reportPath);
  FILE* f = fopen(tmp, "w");
  if (!f) return;
  fprintf(f, "clicks=%d\npresses=%s\nentry=%s\nkeys=%s\nselection=%s\nscroll=%.0f\nslider=%.0f\n",
          clicks, presses->str, gtk_entry_get_text(GTK_ENTRY(entry)), lastKey->str,
          selection ? selection : "", gtk_adjustment_get_value(v),
          gtk_range_get_value(GTK_RANGE(slider)));
  fclose(f);
  rename(tmp, reportPath);
  g_free(selection);
}

static void onClicked(GtkButton* b, gpointer d) {
  (void)b, (void)d;
  ++clicks;
  report();
}

static gboolean onPadPress(GtkWidget* w, GdkEventButton* e, gpointer d) {
  (void)w, (void)d;
  int count = e->type == GDK_2BUTTON_PRESS ? 2 : e->type == GDK_3BUTTON_PRESS ? 3 : 1;
  g_string_append_printf(presses, "%s%u:%d", presses->len ? "," : "", e->button, count);
  report();
  return TRUE;
}

static gboolean onKey(GtkWidget* w, GdkEventKey* e, gpointer d) {
  (void)w, (void)d;
  g_string_printf(lastKey, "%s%s%s%s%s", gdk_keyval_name(e->keyval),
                  e->state & GDK_SHIFT_MASK ? "+shift" : "",
                  e->state & GDK_CONTROL_MASK ? "+control" : "",
                  e->state & GDK_MOD1_MASK ? "+alt" : "",
                  e->state & GDK_SUPER_MASK ? "+super" : "");
  report();
  return FALSE;
}

static void onChanged(gpointer a, gpointer b) {
  (void)a, (void)b;
  report();
}

static gboolean reportLater(gpointer d) {
  (void)d;
  report();
  return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const char* title = "Tavren input probe";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--report") == 0) {
      reportPath = argv[i + 1];
    } else if (strcmp(argv[i], "--title") == 0) {
      title = argv[i + 1];
    } else {
      return 2;
    }
  }
  presses = g_string_new("");
  lastKey = g_string_new("");

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), 320, 330);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window), fixed);

  GtkWidget* button = gtk_button_new_with_label("Press");
  gtk_widget_set_size_request(button, 120, 40);
  gtk_fixed_put(GTK_FIXED(fixed), button, 10, 10);
  g_signal_connect(button, "clicked", G_CALLBACK(onClicked), NULL);

  GtkWidget* pad = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(pad), gtk_label_new("Pad"));
  gtk_widget_set_size_request(pad, 120, 40);
  gtk_fixed_put(GTK_FIXED(fixed), pad, 140, 10);
  g_signal_connect(pad, "button-press-event", G_CALLBACK(onPadPress), NULL);

  entry = gtk_entry_new();
  gtk_widget_set_size_request(entry, 300, 30);
  gtk_fixed_put(GTK_FIXED(fixed), entry, 10, 60);
  g_signal_connect_swapped(entry, "changed", G_CALLBACK(onChanged), NULL);
  g_signal_connect(entry, "key-press-event", G_CALLBACK(onKey), NULL);

  textView = gtk_text_view_new();
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView)),
                           "alpha beta gamma\nsecond line here\n", -1);
  gtk_widget_set_size_request(textView, 300, 60);
  gtk_fixed_put(GTK_FIXED(fixed), textView, 10, 100);
  g_signal_connect_swapped(gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView)), "mark-set",
                           G_CALLBACK(onChanged), NULL);

  scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_widget_set_size_request(scrolled, 300, 100);
  GtkWidget* rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  for (int i = 1; i <= 100; ++i) {
    char text[32];
    snprintf(text, sizeof text, "Row %d", i);
    gtk_box_pack_start(GTK_BOX(rows), gtk_label_new(text), FALSE, FALSE, 0);
  }
  gtk_container_add(GTK_CONTAINER(scrolled), rows);
  gtk_fixed_put(GTK_FIXED(fixed), scrolled, 10, 170);
  g_signal_connect_swapped(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)),
                           "value-changed", G_CALLBACK(onChanged), NULL);

  slider = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
  gtk_scale_set_draw_value(GTK_SCALE(slider), FALSE);
  gtk_widget_set_size_request(slider, 300, 40);
  gtk_fixed_put(GTK_FIXED(fixed), slider, 10, 280);
  g_signal_connect_swapped(slider, "value-changed", G_CALLBACK(onChanged), NULL);

  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  g_idle_add(reportLater, NULL);
  gtk_main();
  return 0;
}
