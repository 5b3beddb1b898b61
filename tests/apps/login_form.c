// A sign-in form: a user name, a password field holding the secret given as argv[1], a
// verification code field and a button. The secret must never reach a host. Below them, fields
// that name a secret in other ways: a visible entry labelled only by a mnemonic label, one
// named only by its placeholder, a combo box with an entry and a spin button. With a file path as
// argv[2], the password field's text is written there on every change, so a test can tell what
// reached it.
#include <gtk/gtk.h>
#include <stdio.h>

static GtkWidget* labelled_entry(GtkGrid* grid, int row, const char* label, const char* text) {
  GtkWidget* caption = gtk_label_new(label);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), text);
  atk_object_set_name(gtk_widget_get_accessible(entry), label);
  gtk_grid_attach(grid, caption, 0, row, 1, 1);
  gtk_grid_attach(grid, entry, 1, row, 1, 1);
  return entry;
}

static void report_password(GtkEditable* editable, gpointer path) {
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.tmp", (const char*)path);
  FILE* f = fopen(tmp, "w");
  if (!f) return;
  fputs(gtk_entry_get_text(GTK_ENTRY(editable)), f);
  fclose(f);
  rename(tmp, (const char*)path);
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
  if (argc > 2) g_signal_connect(password, "changed", G_CALLBACK(report_password), argv[2]);
  labelled_entry(GTK_GRID(grid), 2, "Verification code", "424242");
  labelled_entry(GTK_GRID(grid), 3, "Comment", "plain text");
  gtk_grid_attach(GTK_GRID(grid), gtk_button_new_with_label("Sign in"), 1, 4, 1, 1);

  GtkWidget* mnemonic = gtk_label_new_with_mnemonic("_Password:");
  GtkWidget* relation = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(relation), "mnemonic-secret");
  gtk_label_set_mnemonic_widget(GTK_LABEL(mnemonic), relation);
  gtk_grid_attach(GTK_GRID(grid), mnemonic, 0, 5, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), relation, 1, 5, 1, 1);

  GtkWidget* placeholder = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(placeholder), "Your password");
  gtk_entry_set_text(GTK_ENTRY(placeholder), "placeholder-secret");
  gtk_grid_attach(GTK_GRID(grid), placeholder, 1, 6, 1, 1);

  GtkWidget* combo = gtk_combo_box_text_new_with_entry();
  atk_object_set_name(gtk_widget_get_accessible(combo), "One-time code");
  gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), "otp-combo-secret");
  gtk_grid_attach(GTK_GRID(grid), combo, 1, 7, 1, 1);

  GtkWidget* spin = gtk_spin_button_new_with_range(0, 999999, 1);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), 424243);
  atk_object_set_name(gtk_widget_get_accessible(spin), "Verification code");
  gtk_grid_attach(GTK_GRID(grid), spin, 1, 8, 1, 1);
  gtk_container_add(GTK_CONTAINER(window), grid);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
