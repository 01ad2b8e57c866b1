// What the GTK backend's native handles are, for code that reaches past the windowing layer (the
// WebKitGTK engine puts its view into a frame through them).
//
//   Window::handle() of a frame: the GtkWindow* of the top-level window. Its one child is a
//   GtkLayout that fills the window inside its border; child views are put into that layout at
//   exact positions (client coordinates are the layout's coordinates). A GtkLayout, unlike a
//   GtkFixed, never asks its window for its children's size, so the window can grow and shrink
//   again freely.
//   Window::handle() of a label: the GtkLabel*, a child of its frame's layout.
//
// The handle stays a valid object pointer as long as the layer's Window object lives (the object
// holds a reference), even after the window has been destroyed; check alive() before use.
#pragma once

#include <gtk/gtk.h>

namespace tovi::ui::gtk {

// The layout of a frame given by its handle, or null when handle is no frame of this backend.
inline GtkLayout* frameLayout(void* handle) {
    if (!handle || !GTK_IS_WINDOW(handle)) return nullptr;
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(handle));
    return child && GTK_IS_LAYOUT(child) ? GTK_LAYOUT(child) : nullptr;
}

}  // namespace tovi::ui::gtk
