// A form to act on: a button that counts its presses into a label, a check box, an entry, a
// read-only label, a password entry and a text view whose text mixes an emoji, a combining
// mark and CJK characters around plain words. argv[1], when given, is the password.
#include <gtk/gtk.h>

static int presses = 0;

static void count_press(GtkButton* button, gpointer label) {
  (void)button;
  char text[32];
  g_snprintf(text, sizeof text, "Pressed %d", ++presses);
  gtk_label_set_text(GTK_LABEL(label), text);
}

static void quit_soon(GtkButton* button, gpointer data) {
  (void)button;
  (void)data;
  gtk_main_quit();
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Act");
  gtk_window_set_default_size(GTK_WINDOW(window), 420, 320);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);

  GtkWidget* counter = gtk_label_new("Pressed 0");
  GtkWidget* button = gtk_button_new_with_label("Count");
  g_signal_connect(button, "clicked", G_CALLBACK(count_press), counter);
  GtkWidget* check = gtk_check_button_new_with_label("Remember me");
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), "Hello world");
  atk_object_set_name(gtk_widget_get_accessible(entry), "Greeting");
  GtkWidget* caption = gtk_label_new("Read only caption");
  GtkWidget* password = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  gtk_entry_set_text(GTK_ENTRY(password), argc > 1 ? argv[1] : "hunter2");
  atk_object_set_name(gtk_widget_get_accessible(password), "Password");
  GtkWidget* view = gtk_text_view_new();
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)),
                           "\xF0\x9F\x98\x80 caf" "e\xCC\x81 word \xE6\xBC\xA2\xE5\xAD\x97 word end",
                           -1);
  atk_object_set_name(gtk_widget_get_accessible(view), "Notes");
  GtkWidget* quit = gtk_button_new_with_label("Quit");
  g_signal_connect(quit, "clicked", G_CALLBACK(quit_soon), NULL);

  // Children of the box in this order: w0.0.0 .. w0.0.7.
  GtkWidget* widgets[] = {button, counter, check, entry, caption, password, view, quit};
  for (size_t i = 0; i < G_N_ELEMENTS(widgets); ++i)
    gtk_box_pack_start(GTK_BOX(box), widgets[i], FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
