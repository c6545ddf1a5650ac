#!/usr/bin/python3
# Prints two pages titled argv[2] to the printer argv[1] through GTK's print dialog, as a GTK
# application does: the dialog opens, the printer is chosen, and Print is pressed once the dialog
# has the printer's details. Prints what the dialog showed; exit status 0 when the job finished.
import sys

import gi

gi.require_version('Gtk', '3.0')
from gi.repository import GLib, Gtk  # noqa: E402

printer_name, title = sys.argv[1], sys.argv[2]


def widgets(widget):
    yield widget
    if isinstance(widget, Gtk.Container):
        for child in widget.get_children():
            yield from widgets(child)


def dialog_state(dialog):
    """The chosen printer, whether Print is enabled, the paper sizes and the unavailable options."""
    printer = dialog.get_property('selected-printer')
    papers, unavailable = 0, 0
    for widget in widgets(dialog):
        if not isinstance(widget, Gtk.ComboBox) or widget.get_model() is None:
            continue
        model = widget.get_model()
        if Gtk.Buildable.get_name(widget) == 'paper_size_combo':
            papers = len(model)
        elif len(model) == 1 and model[0][0] == 'Not available':
            unavailable += 1
    return (printer.get_property('name') if printer else None,
            dialog.get_widget_for_response(Gtk.ResponseType.OK).get_sensitive(), papers, unavailable)


def press_print():
    for window in Gtk.Window.list_toplevels():
        if window.__gtype__.name == 'GtkPrintUnixDialog':
            name, enabled, papers, unavailable = dialog_state(window)
            if name == printer_name and enabled and papers > 0:
                print('dialog: printer=%s papers=%d unavailable=%d' % (name, papers, unavailable),
                      flush=True)
                window.get_widget_for_response(Gtk.ResponseType.OK).clicked()
                return False
    return True


def draw_page(operation, context, page):
    cairo = context.get_cairo_context()
    cairo.set_font_size(24)
    cairo.move_to(72, 100)
    cairo.show_text('%s page %d' % (title, page + 1))


operation = Gtk.PrintOperation(n_pages=2, job_name=title, embed_page_setup=True,
                               track_print_status=True)
settings = Gtk.PrintSettings()
settings.set_printer(printer_name)
operation.set_print_settings(settings)
operation.connect('draw-page', draw_page)
GLib.timeout_add(200, press_print)
if operation.run(Gtk.PrintOperationAction.PRINT_DIALOG, None) != Gtk.PrintOperationResult.APPLY:
    sys.exit(2)
loop = GLib.MainLoop()
operation.connect('done', lambda *args: loop.quit())
GLib.timeout_add(200, lambda: loop.quit() if operation.is_finished() else True)
loop.run()
print('status:', operation.get_status_string(), flush=True)
sys.exit(0 if operation.get_status() == Gtk.PrintStatus.FINISHED else 3)
