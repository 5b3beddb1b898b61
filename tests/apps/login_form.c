// A sign-in form: a user name, a password field holding the secret given as argv[1], a
// verification code field and a button. The secret must never reach a host.
#include <gtk/gtk.h>

static GtkWidget* labelled_entry(GtkGrid* grid, int row, const char* label, const char* text) {
  GtkWidget* caption = gtk_label_new(label);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), text);
  atk_object_set_name(gtk_widget_get_accessible(entry), label);
  gtk_grid_attach(grid, caption, 0, row, 1, 1);
  gtk_grid_attach(grid, entry, 1, row, 1, 1);
  return entry;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const char* secret = argc > 1 ? argv[1] : "hunter2";
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Login");
  gtk_window_set_default_size(GTK_WINDOW(window), 360, 200);
  GtkWidget* grid = gtk_grid_new();
  labelled_entry(GTK_GRID(grid), 0, "User name", "alice");
  GtkWidget* password = labelled_entry(GTK_GRID(grid), 1, "Password", secret);
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  labelled_entry(GTK_GRID(grid), 2, "Verification code", "424242");
  labelled_entry(GTK_GRID(grid), 3, "Comment", "plain text");
  gtk_grid_attach(GTK_GRID(grid), gtk_button_new_with_label("Sign in"), 1, 4, 1, 1);
  gtk_container_add(GTK_CONTAINER(window), grid);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
