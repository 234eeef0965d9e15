#!/usr/bin/env python3
"""The real program in a fresh folder under a private X server, worked from
outside with the keyboard and mouse as the shopkeeper works it; afterwards the
data is read back with the sqlcipher command-line tool, not with our driver.

    shop_e2e.py BIN_DIR day         a day at the shop, then every row checked
    shop_e2e.py BIN_DIR unreadable  a Stock.db that cannot be read is told
                                    about and left as it was
    shop_e2e.py BIN_DIR tills       two programs on one PostgreSQL server (a
                                    server of the test's own): a sale paid at
                                    one shows in the other's order history
    --screenshots DIR               also save a picture of each tab (day) or
                                    of the open-failure box (unreadable)

Exit status 77 means the X tools are missing and nothing was tried.

Widgets are found the way a person finds them: the forms' tab orders lead from
field to field, and the one field to click first is found on a picture of the
window (the white boxes of a form's column, counted from the top), so the test
does not depend on pixel positions that a font or style change would move.
"""

import argparse
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from datetime import date

SKIP = 77
KEY = "19970408maple"
BOX_TITLE = "Quorrin1009"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, timeout=10.0):
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


X_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x_server.sh")
X_SERVERS = []


class XServer:
    """A private Xvfb, reachable once made, its output kept in folder; every
    one made is stopped, and shown with a failure, by main."""

    def __init__(self, folder):
        os.makedirs(folder)
        self.folder = folder
        self.display = None
        X_SERVERS.append(self)
        started = subprocess.run([X_SERVER, "start", folder], capture_output=True, text=True)
        check(started.returncode == 0, "Xvfb did not start: " + started.stderr)
        self.display = started.stdout.strip()

    def output(self):
        with open(os.path.join(self.folder, "xvfb.log"), errors="replace") as log:
            return log.read()

    def stop(self):
        subprocess.run([X_SERVER, "stop", self.folder])


class Desktop:
    """Keyboard, mouse and eyes on one X display."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)

    def xdo(self, *args):
        try:
            result = subprocess.run(["xdotool", *map(str, args)], env=self.env,
                                    capture_output=True, text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure("xdotool %s hung" % " ".join(map(str, args)))
        return result.stdout.strip()

    def visible_windows(self):
        found = self.xdo("search", "--onlyvisible", "--class", "pellory")
        return [int(w) for w in found.split()] if found else []

    def geometry(self, window):
        """x, y, width, height; all 0 for a window that has just gone."""
        text = self.xdo("getwindowgeometry", window)
        found = re.search(r"Position: (-?\d+),(-?\d+).*Geometry: (\d+)x(\d+)", text, re.S)
        return tuple(int(n) for n in found.groups()) if found else (0, 0, 0, 0)

    def name(self, window):
        return self.xdo("getwindowname", window)

    def focus(self, window):
        self.xdo("windowfocus", "--sync", window)

    def keys(self, *names):
        for name in names:
            self.xdo("key", "--clearmodifiers", name)
            time.sleep(0.05)

    def type(self, text):
        self.xdo("type", "--clearmodifiers", "--delay", 15, text)
        time.sleep(0.05)

    def click(self, window, x, y, button=1):
        self.xdo("mousemove", "--window", window, x, y)
        time.sleep(0.1)
        self.xdo("click", button)
        time.sleep(0.2)

    def hover(self, window, x, y):
        self.xdo("mousemove", "--window", window, x, y)

    def grab(self, window):
        """The window's pixels as an Image."""
        data = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"],
                              env=self.env, capture_output=True, check=True).stdout
        return Image(data)

    def save(self, window, path):
        subprocess.run(["import", "-window", str(window), path], env=self.env, check=True)

    def close(self, window):
        """What a window manager's close button does: WM_DELETE_WINDOW."""
        x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class Event(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        dpy = x11.XOpenDisplay(self.display.encode())
        check(dpy, "cannot open " + self.display)
        event = Event()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        x11.XFlush(dpy)
        x11.XCloseDisplay(dpy)


class Image:
    def __init__(self, ppm):
        magic, width, height, depth, pixels = ppm.split(maxsplit=4)
        check(magic == b"P6" and depth == b"255", "unexpected picture format")
        self.width, self.height, self.pixels = int(width), int(height), pixels

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def white_boxes(self, x0, x1, y0=0, y1=None, min_height=12):
        """Runs of rows with pure white between x0 and x1: the line edits and
        text boxes of a form column, top to bottom. Labels, buttons and the
        group box around them have no pure white; text typed in a box leaves
        well over a tenth of each row white."""
        y1 = self.height if y1 is None else y1
        boxes, top = [], None
        for y in range(y0, y1):
            white = sum(1 for x in range(x0, x1) if self.pixel(x, y) == (255, 255, 255))
            if white * 10 >= x1 - x0:
                top = y if top is None else top
            elif top is not None:
                if y - top >= min_height:
                    boxes.append((top, y - 1))
                top = None
        return boxes

    def frame_below(self, x, y, limit=80):
        """The first framed thing (a push button) under row y in column x:
        its top and bottom frame lines."""
        dark = [y2 for y2 in range(y, min(y + limit, self.height))
                if max(self.pixel(x, y2)) < 190]
        check(len(dark) >= 2, "no button below row %d" % y)
        top = dark[0]
        bottom = next((y2 for y2 in dark if y2 > top + 8), None)
        check(bottom is not None, "no button bottom below row %d" % top)
        return top, bottom

    def find_colour(self, colour, x0, y0, x1, y1):
        """The topmost, then leftmost, pixel of the colour."""
        return next(((x, y) for y in range(y0, y1) for x in range(x0, x1)
                     if self.pixel(x, y) == colour), None)


STARTED = []


class Shop:
    """The program, installed in a fresh folder and started on the desktop."""

    TABS = 7

    def __init__(self, desktop, bin_dir, folder):
        self.desktop = desktop
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        shutil.copy2(os.path.join(bin_dir, "pellory"), folder)
        shutil.copytree(os.path.join(bin_dir, "sqldrivers"), os.path.join(folder, "sqldrivers"))
        self.db = os.path.join(folder, "Stock.db")
        self.log = open(os.path.join(folder, "..", "program-output.txt"), "ab")
        self.process = None
        self.window = None

    def start(self, passphrases=()):
        """Start the program; a store it cannot open asks for the shop's
        passphrase first: each entry of passphrases is typed into one prompt,
        None cancels it."""
        runtime = tempfile.mkdtemp(prefix="xdg-", dir=os.path.dirname(self.folder))
        env = dict(self.desktop.env, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                   XDG_RUNTIME_DIR=runtime, QT_ACCESSIBILITY="0")
        self.process = subprocess.Popen([os.path.join(self.folder, "pellory")], cwd=self.folder,
                                        env=env, stdout=self.log, stderr=self.log)
        STARTED.append(self.process)
        for entry in passphrases:
            prompt = wait_for("the passphrase prompt", lambda: next(
                (w for w in self.desktop.visible_windows() if self.desktop.name(w) == BOX_TITLE),
                None))
            self.desktop.focus(prompt)
            if entry is None:
                self.desktop.keys("Escape")
            else:
                self.desktop.type(entry)
                self.desktop.keys("Return")
            wait_for("the prompt to close", lambda: prompt not in self.desktop.visible_windows())

        def main_window():
            check(self.process.poll() is None, "the program ended at start-up")
            for window in self.desktop.visible_windows():
                if self.desktop.geometry(window)[2] >= 900:
                    return window
            return None

        self.window = wait_for("the main window", main_window)
        check(self.desktop.name(self.window) == BOX_TITLE,
              "main window title is %r" % self.desktop.name(self.window))
        time.sleep(0.5)

    def close(self):
        """Close the main window: that ends the program, with nothing more
        shown on the way out."""
        self.desktop.close(self.window)
        try:
            code = self.process.wait(15)
        except subprocess.TimeoutExpired:
            left = ["%r %r" % (self.desktop.name(w), self.desktop.geometry(w)[2:])
                    for w in self.desktop.visible_windows()]
            raise Failure("the program did not end when its window was closed; still shown: %s"
                          % (", ".join(left) or "nothing"))
        check(code == 0, "the program ended with status %d" % code)

    # -- looking -----------------------------------------------------------

    def size(self):
        return self.desktop.geometry(self.window)[2:]

    def grab(self):
        return self.desktop.grab(self.window)

    def form_fields(self, count=None, at_least=0):
        """The white boxes of the form column at the right of a tab page, once
        the page shows as many as expected (a busy machine paints late)."""
        width, height = self.size()
        seen = []

        def boxes():
            seen[:] = self.grab().white_boxes(int(width * 0.86), int(width * 0.95), 35,
                                              height - 25)
            if count in (None, len(seen)) and len(seen) >= at_least:
                return list(seen)
            return None

        try:
            return wait_for("the form", boxes, 5.0)
        except Failure:
            raise Failure("the form column shows %d boxes, expected %s"
                          % (len(seen), count if count is not None else "%d or more" % at_least))

    def first_table_row(self):
        """A point in the first row of the table at the left of a tab page:
        its rows are the first pure white under the tab bar and the header."""
        x = 60

        def top():
            picture = self.grab()
            return next((y for y in range(30, picture.height)
                         if picture.pixel(x, y) == (255, 255, 255)), None)

        return x, wait_for("a table at the left of the page", top, 5.0) + 6

    def resize(self, width, height):
        self.desktop.xdo("windowsize", "--sync", self.window, width, height)
        time.sleep(0.5)

    def shot(self, shots, name):
        if shots:
            time.sleep(0.4)
            self.desktop.save(self.window, os.path.join(shots, name))

    # -- doing ---------------------------------------------------------------

    def point_at_bar(self):
        """Rest the pointer on today's bar, the chart's only one, so that a
        picture shows its amount."""
        time.sleep(1.0)
        width, height = self.size()
        bar = self.grab().find_colour((32, 159, 223), 0, 30, width, height // 2)
        if bar:
            self.desktop.hover(self.window, bar[0] + 3, bar[1] + 3)
            time.sleep(0.5)

    def tab(self, index):
        """Click tab `index`; the tab bar spans the window in equal parts."""
        width, _ = self.size()
        self.desktop.focus(self.window)
        self.desktop.click(self.window, int(width * (2 * index + 1) / (2 * self.TABS)), 14)
        time.sleep(0.3)

    def click_field(self, box):
        width, _ = self.size()
        self.desktop.focus(self.window)
        self.desktop.click(self.window, int(width * 0.9), (box[0] + box[1]) // 2)

    def replace(self, text):
        """Overwrite the focused line edit."""
        self.desktop.keys("ctrl+a")
        if text:
            self.desktop.type(text)
        else:
            self.desktop.keys("Delete")

    def next_box(self, timeout=10.0):
        """Wait for a message box (or menu) to open over the main window."""
        return wait_for("a message box",
                        lambda: next((w for w in self.desktop.visible_windows()
                                      if w != self.window), None), timeout)

    def answer(self, key, title=BOX_TITLE):
        """Wait for a box, check its title, answer it with one key."""
        box = self.next_box()
        check(self.desktop.name(box) == title,
              "expected a box titled %r, got %r" % (title, self.desktop.name(box)))
        self.desktop.focus(box)
        self.desktop.keys(key)
        wait_for("the box to close", lambda: box not in self.desktop.visible_windows())
        time.sleep(0.2)
        return box

    def no_box(self):
        """Nothing but the main window is open (after a moment to open)."""
        time.sleep(0.3)
        others = [w for w in self.desktop.visible_windows() if w != self.window]
        check(not others, "unexpected window %r" % [self.desktop.name(w) for w in others])


# -- the day at the shop -----------------------------------------------------

PROVIDERS = [
    # name, phone, address, licence, food licence, business
    ("Acme Foods", "555-0100", "1 Dock Road", "LIC-77", "FOOD-88", "Fresh produce"),
    ("Bolt Supply", "555-0199", "1 Dock Road", "LIC-77", "FOOD-88", "Fresh produce"),
]
MILK, TEA = "0123456789012", "AB-1001"
BOOKINGS = [
    # provider, bill, name, barcode, quantity, purchase price, sale price
    ("Acme Foods", "B100", "Milk", MILK, "10", "1.20", "2.50"),
    ("Bolt Supply", "B101", "Green Tea", TEA, "5", "3.10", "4.75"),
    ("Acme Foods", "B102", "Milk", MILK, "4", "1.20", "2.50"),
]
DELETED_BILL = "B102"


def add_providers(shop, shots):
    # Booking goods before any provider exists sends the shopkeeper to the
    # provider tab with a message.
    shop.tab(3)
    shop.answer("Return")
    # identifier, name, phone, address, licence, food licence, business
    fields = shop.form_fields(count=7)
    for number, provider in enumerate(PROVIDERS):
        shop.click_field(fields[1])
        for position, text in enumerate(provider):
            if position:
                shop.desktop.keys("Tab")
            shop.replace(text)
        if number == 0:
            # A provider without a name is refused and nothing is stored.
            shop.click_field(fields[1])
            shop.replace("")
            press_add_provider(shop, fields)
            shop.answer("Return")
            shop.click_field(fields[1])
            shop.replace(provider[0])
        press_add_provider(shop, fields)
        shop.answer("Return")  # "添加成功"
    shop.shot(shots, "06-providers.png")


def press_add_provider(shop, fields):
    # The business box takes Tab as text, so the button is clicked.
    width, _ = shop.size()
    x = int(width * 0.9)
    top, bottom = shop.grab().frame_below(x, fields[-1][1] + 2)
    shop.desktop.focus(shop.window)
    shop.desktop.click(shop.window, x, (top + bottom) // 2)


def book_goods(shop, shots):
    shop.tab(3)
    shop.no_box()
    # identifier, bill, name, barcode, quantity, purchase price, sale price
    fields = shop.form_fields(count=7)
    for provider, bill, name, barcode, quantity, oprice, rprice in BOOKINGS:
        shop.click_field(fields[1])
        shop.desktop.keys("shift+Tab")       # the provider list
        shop.desktop.type(provider[0])       # picks the name starting so
        shop.desktop.keys("Tab")
        for position, text in enumerate((bill, name, barcode, quantity, oprice, rprice)):
            if position:
                shop.desktop.keys("Tab")
            shop.replace(text)
        shop.desktop.keys("Tab", "space")    # "进货"
        shop.no_box()
    shop.shot(shots, "04-stock-in.png")


def sell(shop, shots):
    shop.tab(0)
    # Milk scanned twice, the tea once; the tea's quantity then made 3.
    for barcode in (MILK, MILK, TEA):
        shop.desktop.type(barcode)
        shop.desktop.keys("Return")
    shop.no_box()
    shop.desktop.click(shop.window, *shop.first_table_row())
    shop.desktop.keys("Home", "Down", "Down", "Right", "Right", "Right", "F2")
    shop.replace("3")
    shop.desktop.keys("Return")
    shop.shot(shots, "01-checkout.png")
    if shots:
        # A counter screen of 1024 x 768: the window fills it under a panel.
        shop.resize(1024, 700)
        shop.shot(shots, "01-checkout-1024x768.png")
        shop.resize(1280, 720)

    barcode_box = shop.form_fields(count=1)
    # Asked to pay, the cashier first says "否": nothing may be stored.
    shop.click_field(barcode_box[0])
    shop.desktop.keys("Tab", "space")
    shop.answer("Escape")
    shop.click_field(barcode_box[0])
    shop.desktop.keys("Tab", "space")
    shop.answer("Return")                     # "是"
    shop.no_box()

    # A second customer changes their mind: the sale is cancelled.
    shop.click_field(barcode_box[0])
    shop.desktop.type(TEA)
    shop.desktop.keys("Return", "Tab", "Tab", "space")
    shop.answer("Return")
    shop.no_box()


def look_at_orders(shop, shots):
    shop.tab(1)
    shop.no_box()
    if shots:
        shop.point_at_bar()
    shop.shot(shots, "02-orders.png")


def delete_purchase(shop, shots):
    shop.tab(4)
    shop.no_box()
    shop.shot(shots, "05-purchases.png")
    # the calendar, then the barcode and bill number boxes
    fields = shop.form_fields(at_least=2)
    shop.click_field(fields[-1])              # bill number
    shop.replace(DELETED_BILL)
    shop.desktop.keys("Tab", "space")         # "查询"
    time.sleep(0.3)

    row = shop.first_table_row()
    shop.desktop.focus(shop.window)
    shop.desktop.click(shop.window, *row)
    shop.desktop.click(shop.window, *row, button=3)
    menu = shop.next_box()
    shop.desktop.keys("Down", "Return")       # "删除"
    wait_for("the menu to close", lambda: menu not in shop.desktop.visible_windows())
    shop.answer("y", title="提示")


def look_at_stock(shop, shots):
    shop.tab(2)
    shop.no_box()
    shop.shot(shots, "03-stock.png")


def look_at_statistics(shop, shots):
    shop.tab(6)
    shop.no_box()
    if shots:
        shop.point_at_bar()
    shop.shot(shots, "07-statistics.png")


# -- reading the data back ---------------------------------------------------

def sqlcipher(db, key, statements):
    script = "PRAGMA key='%s';\n.headers off\n.mode list\n.separator |\n%s\n" % (key, statements)
    result = subprocess.run(["sqlcipher", db], input=script, capture_output=True, text=True,
                            timeout=60)
    return result.returncode, result.stdout, result.stderr


def query(db, sql):
    # Newer SQLCipher answers the key with a line of its own: rows start after a marker.
    code, out, err = sqlcipher(db, KEY, "SELECT 'rows:';\n%s;" % sql)
    check(code == 0 and not err.strip(), "sqlcipher failed on %r: %s" % (sql, err))
    lines = out.splitlines()
    check("rows:" in lines, "sqlcipher printed no rows for %r: %s" % (sql, out))
    return [line.split("|") for line in lines[lines.index("rows:") + 1:]]


def check_day(db):
    with open(db, "rb") as file:
        check(not file.read(16).startswith(b"SQLite format 3"), "Stock.db is not encrypted")
    check(query(db, "PRAGMA integrity_check") == [["ok"]], "integrity check failed")
    today = date.today().isoformat()
    guid = re.compile(r"^[1-9][0-9]{0,19}$")
    moment = re.compile(r"^%s [0-2][0-9]:[0-5][0-9]:[0-5][0-9]$" % today)

    providers = query(db, "SELECT provider_guid, provider_name, provider_phone, "
                          "provider_address, provider_license, provider_foodlicense, "
                          "provider_business FROM providers ORDER BY provider_name")
    check([p[1:] for p in providers] == [list(p) for p in PROVIDERS],
          "providers: %r" % providers)
    provider_guid = {p[1]: p[0] for p in providers}
    check(all(guid.match(g) for g in provider_guid.values()) and
          len(set(provider_guid.values())) == 2, "provider identifiers: %r" % provider_guid)

    kept = [b for b in BOOKINGS if b[1] != DELETED_BILL]
    purchases = query(db, "SELECT purchase_guid, purchase_time, purchase_id, "
                          "purchase_product_name, purchase_product_barcode, "
                          "typeof(purchase_product_barcode), purchase_product_num, "
                          "purchase_provider_guid, purchase_product_oprice, "
                          "purchase_product_rprice FROM purchases ORDER BY purchase_id")
    expected = [[b[1], b[2], b[3], "text", b[4], provider_guid[b[0]],
                 str(float(b[5])), str(float(b[6]))] for b in kept]
    check([p[2:] for p in purchases] == expected,
          "purchases:\n%r\nexpected:\n%r" % (purchases, expected))
    check(all(guid.match(p[0]) and moment.match(p[1]) for p in purchases),
          "purchase identifiers or times: %r" % purchases)

    products = query(db, "SELECT product_guid, product_name, product_barcode, "
                         "typeof(product_barcode), product_num, product_provider_guid, "
                         "product_original_price, product_retail_price FROM products "
                         "ORDER BY product_barcode")
    check([p[1:] for p in products] == [
        ["Milk", MILK, "text", "10", provider_guid["Acme Foods"], "1.2", "2.5"],
        ["Green Tea", TEA, "text", "5", provider_guid["Bolt Supply"], "3.1", "4.75"],
    ], "products: %r" % products)
    product_guid = {p[2]: p[0] for p in products}
    # A product gets a key of its own, not the one of the booking that made it.
    first_booking = {p[4]: p[0] for p in reversed(purchases)}
    check(all(guid.match(g) and g != first_booking[barcode]
              for barcode, g in product_guid.items()),
          "product identifiers: %r, purchases %r" % (product_guid, purchases))
    # Every stock figure is what the remaining purchases brought in: selling
    # does not touch stock, and the deleted purchase took its 4 back out.
    for barcode, stock in query(db, "SELECT product_barcode, product_num FROM products"):
        brought = sum(int(b[4]) for b in kept if b[3] == barcode)
        check(int(stock) == brought, "stock of %s is %s, purchases say %d"
              % (barcode, stock, brought))

    orders = query(db, "SELECT order_guid, order_time, order_total, order_ptnum FROM orders")
    check(len(orders) == 1, "orders: %r (one paid sale; the refused pay and the "
                            "cancelled sale store nothing)" % orders)
    order_guid, order_time, total, lines = orders[0]
    check(guid.match(order_guid) and moment.match(order_time), "order: %r" % orders)
    check((total, lines) == ("19.25", "3"), "order total and lines: %r" % orders)

    details = query(db, "SELECT order_guid, order_time, order_total, order_product_name, "
                        "order_product_guid, order_product_barcode, "
                        "typeof(order_product_barcode), order_product_num, "
                        "order_product_rprice, order_product_subtotal FROM orderdetail "
                        "ORDER BY order_product_num, order_time")
    check([d[:1] + d[2:] for d in details] == [
        [order_guid, "19.25", "Milk", product_guid[MILK], MILK, "text", "1", "2.5", "2.5"],
        [order_guid, "19.25", "Milk", product_guid[MILK], MILK, "text", "1", "2.5", "2.5"],
        [order_guid, "19.25", "Green Tea", product_guid[TEA], TEA, "text", "3", "4.75",
         "14.25"],
    ], "order lines: %r" % details)
    check(all(moment.match(d[1]) and d[1] <= order_time for d in details),
          "order line times: %r" % details)


def day(desktop, bin_dir, work, shots):
    shop = Shop(desktop, bin_dir, os.path.join(work, "shop"))
    shop.start()
    # The first size is one at which every label of the statistics chart
    # reads; its picture (07-statistics.png) is taken at it.
    check(tuple(shop.size()) == (1280, 720), "first size %r" % (shop.size(),))
    add_providers(shop, shots)
    book_goods(shop, shots)
    sell(shop, shots)
    look_at_orders(shop, shots)
    delete_purchase(shop, shots)
    look_at_stock(shop, shots)
    look_at_statistics(shop, shots)
    shop.close()
    check_day(shop.db)
    print("day at the shop: every row and stock figure as booked, sold and deleted")


# -- two tills on one server -------------------------------------------------

PG_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pg_server.sh")


def todays_bar(shop):
    """A bar of the turnover chart: its colour, taller than the legend's marker."""
    width, height = shop.size()
    screen, colour = shop.grab(), (32, 159, 223)
    return next(((x, y) for y in range(30, height // 2) for x in range(width)
                 if screen.pixel(x, y) == colour and screen.pixel(x, y + 16) == colour), None)


def tills(desktop, bin_dir, work, shots):
    server = tempfile.mkdtemp(prefix="pellory-pg-")
    check(subprocess.run([PG_SERVER, "start", server]).returncode == 0, "no server")
    # Each till has a screen of its own, as at the shop.
    second_screen = XServer(os.path.join(work, "second-screen"))
    try:
        front, back = (Shop(screen, bin_dir, os.path.join(work, name)) for screen, name in
                       ((desktop, "front"), (Desktop(second_screen.display), "back")))
        for shop in (front, back):
            with open(os.path.join(shop.folder, "plconfig.ini"), "w") as settings:
                settings.write('[store]\nengine=postgresql\nconnection="host=%s port=5432 '
                               'dbname=postgres user=postgres"\n' % server)
            shop.start()
        add_providers(front, None)
        book_goods(front, None)
        back.tab(1)
        check(todays_bar(back) is None, "the other till shows a sale before any was paid")
        sell(front, None)
        back.tab(0)
        back.tab(1)
        wait_for("the sale in the other till's order history", lambda: todays_bar(back), 5.0)
        for shop in (front, back):
            shop.close()
            check(not os.path.exists(shop.db), "a Stock.db was made in server mode")
        print("two tills: the sale paid at one shows in the other's order history")
    finally:
        subprocess.run([PG_SERVER, "stop", server])
        shutil.rmtree(server, ignore_errors=True)


# -- a Stock.db the program cannot read ----------------------------------------

def unreadable(desktop, bin_dir, work, shots):
    cases = []
    foreign_key = os.path.join(work, "foreign-key.db")
    code, _, err = sqlcipher(foreign_key, "another-shop-key",
                             "CREATE TABLE products(product_name);"
                             "INSERT INTO products VALUES('theirs');")
    check(code == 0 and not err.strip(), "cannot make a keyed file: " + err)
    with open(foreign_key, "rb") as file:
        # Three wrong passphrases, and the program gives up on the store.
        cases.append(("a database under another key", file.read(), ["a", "another", "shop-key"]))
    cases.append(("a file that is no database",
                  b"the shopkeeper's notes, not a database\n" * 50, [None]))

    for number, (what, contents, passphrases) in enumerate(cases):
        shop = Shop(desktop, bin_dir, os.path.join(work, "shop%d" % number))
        with open(shop.db, "wb") as file:
            file.write(contents)
        shop.start(passphrases)
        box = shop.next_box()
        check(desktop.name(box) == BOX_TITLE, "%s: no open-failure box" % what)
        if shots and number == 0:
            time.sleep(0.4)
            desktop.save("root", os.path.join(shots, "open-failure.png"))
        shop.answer("Return")
        # The shopkeeper works on regardless: adding a provider must fail
        # without touching the file.
        shop.tab(5)
        fields = shop.form_fields(count=7)
        shop.click_field(fields[1])
        shop.replace("Acme Foods")
        press_add_provider(shop, fields)
        shop.answer("Return")
        shop.close()
        with open(shop.db, "rb") as file:
            check(file.read() == contents, "%s: Stock.db was changed" % what)
        leftovers = sorted(set(os.listdir(shop.folder)) -
                           {"pellory", "sqldrivers", "Stock.db", "plconfig.ini"})
        check(not leftovers, "%s: files left beside the store: %r" % (what, leftovers))
        print("%s: told at start-up, file unchanged" % what)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin_dir")
    parser.add_argument("scenario", choices=["day", "unreadable", "tills"])
    parser.add_argument("--screenshots")
    args = parser.parse_args()

    missing = [tool for tool in ("Xvfb", "xdotool") if not shutil.which(tool)]
    if missing:
        print("SKIP: not installed: " + ", ".join(missing))
        return SKIP
    for tool in ("import", "sqlcipher"):
        check(shutil.which(tool), tool + " is not installed")
    bin_dir = os.path.abspath(args.bin_dir)
    shots = os.path.abspath(args.screenshots) if args.screenshots else None
    if shots:
        os.makedirs(shots, exist_ok=True)

    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="pellory-e2e-")
    failed = True
    try:
        server = XServer(os.path.join(work, "screen"))
        scenario = {"day": day, "unreadable": unreadable, "tills": tills}[args.scenario]
        scenario(Desktop(server.display), bin_dir, work, shots)
        failed = False
    except Failure as failure:
        print("FAIL: %s" % failure)
        for x_server in X_SERVERS:
            print("Xvfb %s output:\n%s" % (x_server.display, x_server.output()))
            if x_server.display:
                picture = os.path.join(x_server.folder, "failure.png")
                subprocess.run(["import", "-window", "root", picture],
                               env=dict(os.environ, DISPLAY=x_server.display))
                print("screen %s at the failure: %s" % (x_server.display, picture))
    finally:
        for process in STARTED:
            if process.poll() is None:
                process.kill()
                process.wait()
        for x_server in X_SERVERS:
            x_server.stop()
        output = os.path.join(work, "program-output.txt")
        if failed and os.path.exists(output):
            with open(output, errors="replace") as log:
                print("program output:\n" + log.read())
        if not failed:
            shutil.rmtree(work, ignore_errors=True)
    print("%.1f s" % (time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
