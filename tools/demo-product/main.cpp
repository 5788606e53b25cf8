// The demo product: one window with the product's icon, name and version.
//   demo-product [--version]
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "platform/Resources.h"

namespace {

GdkPixbuf* IconPixbuf(int size) {
  platform::ResourceBytes icon = platform::FindResource(platform::kResTypeIcon, 101);
  if (!icon) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GdkPixbuf* scaled = nullptr;
  if (gdk_pixbuf_loader_write(loader, icon.data, icon.size, nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    if (GdkPixbuf* full = gdk_pixbuf_loader_get_pixbuf(loader)) {
      scaled = gdk_pixbuf_scale_simple(full, size, size, GDK_INTERP_BILINEAR);
    }
  }
  g_object_unref(loader);
  return scaled;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", KV_DEMO_PRODUCT_NAME, KV_DEMO_PRODUCT_VERSION);
    return 0;
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "demo-product: cannot open a display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), KV_DEMO_PRODUCT_NAME);
  gtk_window_set_default_size(GTK_WINDOW(window), 420, 260);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_valign(box, GTK_ALIGN_CENTER);
  if (GdkPixbuf* icon = IconPixbuf(96)) {
    gtk_window_set_icon(GTK_WINDOW(window), icon);
    gtk_box_pack_start(GTK_BOX(box), gtk_image_new_from_pixbuf(icon), FALSE, FALSE, 0);
    g_object_unref(icon);
  }
  GtkWidget* name = gtk_label_new(nullptr);
  char* markup = g_markup_printf_escaped("<span size='xx-large' weight='bold'>%s</span>",
                                         KV_DEMO_PRODUCT_NAME);
  gtk_label_set_markup(GTK_LABEL(name), markup);
  g_free(markup);
  gtk_box_pack_start(GTK_BOX(box), name, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Version " KV_DEMO_PRODUCT_VERSION), FALSE, FALSE,
                     0);
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
