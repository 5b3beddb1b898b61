// A tree view of argv[1] rows (default 1000) and two columns. Tree views manage their
// descendants: their cells are created on demand rather than kept in the toolkit's cache.
#include <gtk/gtk.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  int rows = argc > 1 ? atoi(argv[1]) : 1000;
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
  for (int i = 0; i < rows; ++i) {
    char name[32];
    g_snprintf(name, sizeof name, "Row %d", i);
    gtk_list_store_insert_with_values(store, NULL, -1, 0, name, 1, i * 10, -1);
  }
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "Name", text, "text", 0,
                                              NULL);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "Size", text, "text", 1,
                                              NULL);
  GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Tree Rows");
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 500);
  gtk_container_add(GTK_CONTAINER(window), scroller);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
