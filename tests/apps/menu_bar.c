// A menu bar whose File menu opens by itself once the window is shown, so that the open menu
// lives in an override-redirect pop-up window of its own. With --context a context menu
// (Cut, Copy, Paste) pops up over the document instead.
#include <gtk/gtk.h>

static GtkWidget* menu_with(const char* const* items) {
  GtkWidget* menu = gtk_menu_new();
  for (; *items; ++items) gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_menu_item_new_with_label(*items));
  return menu;
}

static GtkWidget* menubar;
static GtkWidget* file_item;
static GtkWidget* document;
static gboolean context = FALSE;

static gboolean open_menu(gpointer data) {
  if (context) {
    static const char* const kContext[] = {"Cut", "Copy", "Paste", NULL};
    GtkWidget* menu = menu_with(kContext);
    gtk_widget_show_all(menu);
    gtk_menu_popup_at_widget(GTK_MENU(menu), document, GDK_GRAVITY_CENTER,
                             GDK_GRAVITY_NORTH_WEST, NULL);
  } else {
    gtk_menu_shell_select_item(GTK_MENU_SHELL(menubar), file_item);
  }
  return G_SOURCE_REMOVE;
}

static void on_map(GtkWidget* window, gpointer data) { g_timeout_add(300, open_menu, NULL); }

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  context = argc > 1 && g_strcmp0(argv[1], "--context") == 0;
  static const char* const kFile[] = {"New", "Open", "Save", "Quit", NULL};
  static const char* const kEdit[] = {"Undo", "Redo", NULL};
  menubar = gtk_menu_bar_new();
  file_item = gtk_menu_item_new_with_label("File");
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(file_item), menu_with(kFile));
  GtkWidget* edit_item = gtk_menu_item_new_with_label("Edit");
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(edit_item), menu_with(kEdit));
  gtk_menu_shell_append(GTK_MENU_SHELL(menubar), file_item);
  gtk_menu_shell_append(GTK_MENU_SHELL(menubar), edit_item);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(box), menubar, FALSE, FALSE, 0);
  document = gtk_label_new("Document");
  gtk_box_pack_start(GTK_BOX(box), document, TRUE, TRUE, 0);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Tavren Menu Bar");
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect_after(window, "map", G_CALLBACK(on_map), NULL);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
