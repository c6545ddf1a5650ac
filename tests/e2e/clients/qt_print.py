#!/usr/bin/python3
# Prints two pages titled argv[2] to the printer argv[1] as a Qt 5 application does, after finding
# it among the printers Qt lists. Exit status 0 when Qt handed the document over.
import sys

from PyQt5.QtGui import QFont, QPainter
from PyQt5.QtPrintSupport import QPrinter, QPrinterInfo
from PyQt5.QtWidgets import QApplication

application = QApplication(sys.argv)
printer_name, title = sys.argv[1], sys.argv[2]
listed = [info.printerName() for info in QPrinterInfo.availablePrinters()]
print('listed:', listed, flush=True)
if printer_name not in listed:
    sys.exit(2)
printer = QPrinter(QPrinterInfo.printerInfo(printer_name), QPrinter.HighResolution)
printer.setDocName(title)
painter = QPainter()
if not painter.begin(printer):
    sys.exit(3)
painter.setFont(QFont('Sans', 24))
painter.drawText(300, 300, title + ' page 1')
printer.newPage()
painter.drawText(300, 300, title + ' page 2')
sys.exit(0 if painter.end() else 4)
