// Boxes nested argv[1] deep (default 40) around one button, deeper than any depth limit.
#include <gtk/gtk.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  int depth = argc > 1 ? atoi(argv[1]) : 40;
  GtkWidget* inner = gtk_button_new_with_label("Deepest");
  for (int i = 0; i < depth; ++i) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(box), inner, TRUE, TRUE, 0);
    inner = box;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Deep Nesting");
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  gtk_container_add(GTK_CONTAINER(window), inner);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
