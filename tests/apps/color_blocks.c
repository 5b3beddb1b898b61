// A window of an exact size painted with known colour blocks, for capture tests.
//
//   tavren-fixture-color-blocks TITLE WIDTH HEIGHT [SEED] [--popup X Y] [--busy]
//
// The window's inside is WIDTH x HEIGHT pixels cut into a 4 x 3 grid of solid blocks. Block
// (column c, row r) has the colour blockColor(SEED, c, r) below, so a test knows every pixel and
// windows with different seeds share no colour. Once the first frame has been drawn the
// title becomes "TITLE painted", which tells a test the pixels are there. With --popup the
// window is an override-redirect pop-up at X, Y that no window manager moves, resizes or
// decorates (for covering another window, or for sizes beyond the screen). --busy paints a
// gradient and lines of text over the blocks instead, content as costly to encode as a real
// document window, for benchmarks. SIGUSR1 minimizes the window.
#include <glib-unix.h>
#include <signal.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <string.h>

enum { kColumns = 4, kRows = 3 };

typedef struct {
  const char* title;
  int seed;
  gboolean busy;
  gboolean announced;
} State;

// The block's number written in base 6, one digit a channel, each step 0x33: every block of
// seeds 0 to 17 has a colour of its own, and neighbours differ by at least 0x33 in a channel,
// far more than JPEG's small errors.
static void blockColor(int seed, int column, int row, double rgb[3]) {
  int index = seed * kColumns * kRows + row * kColumns + column;
  rgb[0] = (index % 6) * 51 / 255.0;
  rgb[1] = (index / 6 % 6) * 51 / 255.0;
  rgb[2] = (index / 36 % 6) * 51 / 255.0;
}

static void paintText(cairo_t* cr, int width, int height) {
  cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, width, height);
  cairo_pattern_add_color_stop_rgba(gradient, 0, 1, 1, 1, 0.85);
  cairo_pattern_add_color_stop_rgba(gradient, 1, 0.75, 0.8, 0.9, 0.85);
  cairo_set_source(cr, gradient);
  cairo_paint(cr);
  cairo_pattern_destroy(gradient);
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 13);
  static const char* words[] = {"window", "capture", "of", "the", "desktop", "pixels", "encoded",
                                "inline", "as", "text", "for", "a", "host", "reading", "lines"};
  int line = 0;
  for (int y = 16; y < height; y += 17, ++line) {
    char text[512] = "";
    for (int i = 0; i < 60; ++i) {
      strncat(text, words[(line * 7 + i * 3 + i * i) % 15], sizeof text - strlen(text) - 2);
      strcat(text, " ");
    }
    cairo_set_source_rgb(cr, (line % 3) * 0.3, 0.1, 0.2);
    cairo_move_to(cr, 6 + line % 5, y);
    cairo_show_text(cr, text);
  }
}

static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  State* state = data;
  int width = gtk_widget_get_allocated_width(widget);
  int height = gtk_widget_get_allocated_height(widget);
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      double rgb[3];
      blockColor(state->seed, c, r, rgb);
      int x0 = width * c / kColumns, x1 = width * (c + 1) / kColumns;
      int y0 = height * r / kRows, y1 = height * (r + 1) / kRows;
      cairo_set_source_rgb(cr, rgb[0], rgb[1], rgb[2]);
      cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
      cairo_fill(cr);
    }
  }
  if (state->busy) paintText(cr, width, height);
  if (!state->announced) {
    state->announced = TRUE;
    // Renamed after this frame reaches the server: requests on one connection are handled in
    // order, so once the new title is visible the pixels are too.
    char* title = g_strdup_printf("%s painted", state->title);
    gtk_window_set_title(GTK_WINDOW(gtk_widget_get_toplevel(widget)), title);
    g_free(title);
  }
  return TRUE;
}

static gboolean minimize(gpointer data) {
  gtk_window_iconify(GTK_WINDOW(data));
  return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 4) return 2;
  static State state;
  state.title = argv[1];
  int width = atoi(argv[2]), height = atoi(argv[3]);
  state.seed = argc > 4 && argv[4][0] != '-' ? atoi(argv[4]) : 0;
  gboolean popup = FALSE;
  int x = 0, y = 0;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--busy") == 0) state.busy = TRUE;
  }
  for (int i = 4; i + 2 < argc; ++i) {
    if (strcmp(argv[i], "--popup") == 0) {
      popup = TRUE;
      x = atoi(argv[i + 1]);
      y = atoi(argv[i + 2]);
    }
  }

  GtkWidget* window = gtk_window_new(popup ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), state.title);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  GtkWidget* area = gtk_drawing_area_new();
  gtk_widget_set_size_request(area, width, height);
  gtk_container_add(GTK_CONTAINER(window), area);
  g_signal_connect(area, "draw", G_CALLBACK(draw), &state);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_unix_signal_add(SIGUSR1, minimize, window);
  if (popup) gtk_window_move(GTK_WINDOW(window), x, y);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
