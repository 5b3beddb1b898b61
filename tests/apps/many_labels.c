// argv[1] labels (default 5000) in rows of 50 inside one scrolled column: a large tree for row
// throughput. Rows rather than one flat column: GTK 3 lists a container's children in time
// proportional to their number for each child, so a single box of 5000 costs the toolkit over
// a second per listing, whoever asks.
#include <gtk/gtk.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  int count = argc > 1 ? atoi(argv[1]) : 5000;
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* row = NULL;
  for (int i = 0; i < count; ++i) {
    if (i % 50 == 0) {
      row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
      gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    }
    char text[32];
    g_snprintf(text, sizeof text, "Label %d", i);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new(text), FALSE, FALSE, 0);
  }
  GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
  gtk_container_add(GTK_CONTAINER(scroller), box);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Many Labels");
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 600);
  gtk_container_add(GTK_CONTAINER(window), scroller);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
