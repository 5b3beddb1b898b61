// A window that never stops changing: a label renamed, a progress bar moved and a child added
// and removed every millisecond, each change an accessibility event, plus an entry to act on.
#include <gtk/gtk.h>

static GtkWidget* label;
static GtkWidget* bar;
static GtkWidget* churn;
static GtkWidget* box;
static GtkWidget* extra;
static unsigned ticks;

static gboolean change(gpointer data) {
  (void)data;
  char text[32];
  g_snprintf(text, sizeof text, "Tick %u", ++ticks);
  gtk_label_set_text(GTK_LABEL(label), text);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), (ticks % 100) / 100.0);
  if (extra != NULL) {
    gtk_container_remove(GTK_CONTAINER(churn), extra);
    extra = NULL;
  } else {
    extra = gtk_label_new("Passing");
    gtk_box_pack_start(GTK_BOX(churn), extra, FALSE, FALSE, 0);
    gtk_widget_show(extra);
  }
  return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Event Flood");
  gtk_window_set_default_size(GTK_WINDOW(window), 320, 200);
  box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  label = gtk_label_new("Tick 0");
  bar = gtk_progress_bar_new();
  GtkWidget* entry = gtk_entry_new();
  atk_object_set_name(gtk_widget_get_accessible(entry), "Steady");
  churn = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  // Children of the box in this order: w0.0.0 .. w0.0.3.
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), churn, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  g_timeout_add(1, change, NULL);
  gtk_main();
  return 0;
}
