// The one source of tl8_widget_headers, whose precompiled headers the
// libraries of widgets take.
