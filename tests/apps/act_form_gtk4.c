// The act-form for GTK 4: a button that counts its presses into a label, a check button, a
// toggle button, a switch, an entry, a read-only label, a password entry, a spin button, an
// expander and a text view whose text mixes an emoji, a combining mark and CJK characters
// around plain words. Each effect shows in a label or a state the tree reads back.
#include <gtk/gtk.h>

static int presses = 0;
static gboolean done = FALSE;

static void count_press(GtkButton* button, gpointer label) {
  (void)button;
  char text[32];
  g_snprintf(text, sizeof text, "Pressed %d", ++presses);
  gtk_label_set_text(GTK_LABEL(label), text);
}

static void quit_soon(GtkButton* button, gpointer data) {
  (void)button;
  (void)data;
  done = TRUE;
  g_main_context_wakeup(NULL);
}

static void quit_on_close(GtkWindow* window, gpointer data) {
  (void)window;
  quit_soon(NULL, data);
}

static void name(GtkWidget* widget, const char* label) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, label, -1);
}

int main(void) {
  gtk_init();
  GtkWidget* window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Act 4");
  gtk_window_set_default_size(GTK_WINDOW(window), 420, 480);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);

  GtkWidget* counter = gtk_label_new("Pressed 0");
  GtkWidget* button = gtk_button_new_with_label("Count");
  g_signal_connect(button, "clicked", G_CALLBACK(count_press), counter);
  GtkWidget* check = gtk_check_button_new_with_label("Remember me");
  GtkWidget* toggle = gtk_toggle_button_new_with_label("Bold");
  GtkWidget* power = gtk_switch_new();
  name(power, "Power");
  GtkWidget* entry = gtk_entry_new();
  gtk_editable_set_text(GTK_EDITABLE(entry), "Hello world");
  name(entry, "Greeting");
  GtkWidget* caption = gtk_label_new("Read only caption");
  GtkWidget* password = gtk_password_entry_new();
  gtk_editable_set_text(GTK_EDITABLE(password), "hunter2");
  name(password, "Password");
  GtkWidget* spin = gtk_spin_button_new_with_range(0, 10, 1);
  name(spin, "Amount");
  GtkWidget* expander = gtk_expander_new("More");
  gtk_expander_set_child(GTK_EXPANDER(expander), gtk_label_new("Hidden detail"));
  GtkWidget* view = gtk_text_view_new();
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)),
                           "\xF0\x9F\x98\x80 caf"
                           "e\xCC\x81 word \xE6\xBC\xA2\xE5\xAD\x97 word end",
                           -1);
  name(view, "Notes");
  GtkWidget* quit = gtk_button_new_with_label("Quit");
  g_signal_connect(quit, "clicked", G_CALLBACK(quit_soon), NULL);

  GtkWidget* widgets[] = {button,  counter,  check, toggle,   power, entry,
                          caption, password, spin,  expander, view,  quit};
  for (size_t i = 0; i < G_N_ELEMENTS(widgets); ++i) gtk_box_append(GTK_BOX(box), widgets[i]);
  gtk_window_set_child(GTK_WINDOW(window), box);
  g_signal_connect(window, "close-request", G_CALLBACK(quit_on_close), NULL);
  gtk_window_present(GTK_WINDOW(window));
  while (!done) g_main_context_iteration(NULL, TRUE);
  return 0;
}
