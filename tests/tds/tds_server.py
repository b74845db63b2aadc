#!/usr/bin/python3
"""A small TDS 7.4 server for tests: it answers a SQL Server client (FreeTDS's
ODBC driver) from a SQLite database file.

    tds_server.py --db PATH --ext PATH --user U --password P
                  [--log FILE] [--drop-after N] [--silent-after N]
                  [--abort-batch-on-error]

It listens on 127.0.0.1 on a port the system picks and prints "PORT <n>" as
the first line of standard output. It ends when its standard input reaches
end of file or on SIGTERM. Every client connection is served by a thread of
its own with a SQLite connection of its own, on which the extension given by
--ext is loaded (it supplies convert() and the schema Dravonix, and keeps the
statement log named by $GENTRMX_SQL_LOG).

What it speaks: PRELOGIN (no encryption, no MARS), LOGIN7 (SQL login checked
against --user/--password), SQL batches, the API server cursor procedures
sp_cursoropen, sp_cursoroption, sp_cursorfetch and sp_cursorclose called by
procedure id, and ATTENTION. Statement texts arrive as UTF-16 and reach
SQLite as code page 1252 bytes; text values leave as the stored bytes in
VARCHAR columns of code page 1252. Rows are produced by stepping SQLite as
the reply is written, so an error at some row reaches the client where that
row would have been, and a cancel cuts the reply short.

A batch of several statements (joined with ";") is answered as SQL Server
answers it: every statement runs, in order, and gets its own result, its
rows and a DONE, or, when it fails, an ERROR and a DONE with DONE_ERROR;
every DONE but the last carries DONE_MORE. A syntax error anywhere fails the
whole batch before any statement runs (one ERROR, one DONE with DONE_ERROR).

--abort-batch-on-error: a failing statement ends its batch (its DONE is the
last, without DONE_MORE) and the statements after it do not run, as with
SQL Server's batch-aborting errors (208 invalid object name, 245 conversion,
1205 deadlock).

Request log (--log): one line per request received, its kind ("PRELOGIN",
"LOGIN7", "SQLBATCH", "RPC:sp_cursoropen", "ATTENTION", ...), for a batch or
a cursor open a tab and the statement text in code page 1252 with backslash,
newline, carriage return and tab written as \\\\, \\n, \\r and \\t; a cursor
open then a tab and its scroll and concurrency options ("scrollopt 0x0004
ccopt 0x2002").

Requests are counted per connection from 1, as they arrive: the PRELOGIN is
the 1st, the LOGIN7 the 2nd, the first batch or RPC message after the login
the 3rd. Every message counts once (an RPC message with several calls is one
request, an ATTENTION between requests is one); an ATTENTION that arrives
while a reply is being written cuts that reply short and does not count.

--drop-after N: on the N-th request of a connection the connection is closed
at once, without an answer (1: at the pre-login, 2: at the login).

--silent-after N: from the N-th request of a connection on, nothing is
answered: the connection stays open, every further message (an ATTENTION
too) is read, logged and left unanswered, until the client closes it or the
server ends (1: silent at the pre-login, 2: at the login). With both options
each takes effect at its own N, and the drop wins where both apply (silent
at 3 and dropped at 4 closes a silent connection at its next message).
"""
import argparse
import ctypes
import ctypes.util
import os
import select
import signal
import socket
import struct
import sys
import threading

# ---------------------------------------------------------------------------
# Code page 1252 in both directions, with the five code points the code page
# leaves undefined standing for themselves, so that every byte round-trips.

DECODE = []
for _b in range(256):
    try:
        DECODE.append(bytes([_b]).decode("cp1252"))
    except UnicodeDecodeError:
        DECODE.append(chr(_b))
ENCODE = {ch: b for b, ch in enumerate(DECODE)}


def to_cp1252(text):
    """Unicode text to code page 1252 bytes ('?' for what it cannot hold)."""
    return bytes(ENCODE.get(ch, 0x3F) for ch in text)


def from_cp1252(data):
    return "".join(DECODE[b] for b in data)


def ucs2(text):
    return text.encode("utf-16-le")


# ---------------------------------------------------------------------------
# SQLite through ctypes: statement texts must reach it as exact bytes.

_sqlite = ctypes.CDLL(ctypes.util.find_library("sqlite3") or "libsqlite3.so.0")
_p = ctypes.c_void_p
for _name, _res, _args in [
    ("sqlite3_open_v2", ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_p), ctypes.c_int, ctypes.c_char_p]),
    ("sqlite3_close_v2", ctypes.c_int, [_p]),
    ("sqlite3_enable_load_extension", ctypes.c_int, [_p, ctypes.c_int]),
    ("sqlite3_load_extension", ctypes.c_int, [_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(_p)]),
    ("sqlite3_busy_timeout", ctypes.c_int, [_p, ctypes.c_int]),
    ("sqlite3_errmsg", ctypes.c_char_p, [_p]),
    ("sqlite3_free", None, [_p]),
    ("sqlite3_prepare_v2", ctypes.c_int, [_p, _p, ctypes.c_int, ctypes.POINTER(_p), ctypes.POINTER(_p)]),
    ("sqlite3_step", ctypes.c_int, [_p]),
    ("sqlite3_finalize", ctypes.c_int, [_p]),
    ("sqlite3_column_count", ctypes.c_int, [_p]),
    ("sqlite3_column_name", ctypes.c_char_p, [_p, ctypes.c_int]),
    ("sqlite3_column_decltype", ctypes.c_char_p, [_p, ctypes.c_int]),
    ("sqlite3_column_type", ctypes.c_int, [_p, ctypes.c_int]),
    ("sqlite3_column_int64", ctypes.c_int64, [_p, ctypes.c_int]),
    ("sqlite3_column_double", ctypes.c_double, [_p, ctypes.c_int]),
    ("sqlite3_column_text", _p, [_p, ctypes.c_int]),
    ("sqlite3_column_blob", _p, [_p, ctypes.c_int]),
    ("sqlite3_column_bytes", ctypes.c_int, [_p, ctypes.c_int]),
    ("sqlite3_changes", ctypes.c_int, [_p]),
    ("sqlite3_stmt_readonly", ctypes.c_int, [_p]),
    ("sqlite3_complete", ctypes.c_int, [ctypes.c_char_p]),
]:
    _f = getattr(_sqlite, _name)
    _f.restype = _res
    _f.argtypes = _args

SQLITE_ROW, SQLITE_DONE = 100, 101
SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL = 1, 2, 3, 4, 5
SQLITE_OPEN_READWRITE, SQLITE_OPEN_CREATE, SQLITE_OPEN_FULLMUTEX = 0x2, 0x4, 0x10000


class SqlError(Exception):
    """A statement failed: number, class and message as the server reports them."""

    def __init__(self, number, severity, message):
        super().__init__(message)
        self.number, self.severity, self.message = number, severity, message


def translate_error(raw):
    """A SQLite message (bytes) as the error SQL Server would give."""
    text = from_cp1252(raw or b"unknown error")
    if text.startswith("no such table: "):
        name = text[len("no such table: "):]
        return SqlError(208, 16, "Invalid object name '%s'." % name)
    if text.startswith("no such column: "):
        name = text[len("no such column: "):]
        return SqlError(207, 16, "Invalid column name '%s'." % name)
    if "syntax error" in text or text.startswith("unrecognized token"):
        near = ""
        if text.startswith('near "'):
            near = text[len('near "'):text.find('"', len('near "'))]
        elif text.startswith("unrecognized token: "):
            near = text[len("unrecognized token: "):].strip('"')
        if near:
            return SqlError(102, 15, "Incorrect syntax near '%s'." % near)
        return SqlError(102, 15, "Incorrect syntax near the end of the statement.")
    return SqlError(50000, 16, text)


class Database:
    """One SQLite connection with the project's extension loaded."""

    def __init__(self, path, extension):
        self.db = _p()
        rc = _sqlite.sqlite3_open_v2(os.fsencode(path), ctypes.byref(self.db),
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, None)
        if rc != 0:
            message = _sqlite.sqlite3_errmsg(self.db) if self.db else b"out of memory"
            self.close()
            raise RuntimeError("cannot open %s: %s" % (path, message.decode("latin-1")))
        _sqlite.sqlite3_busy_timeout(self.db, 10000)
        _sqlite.sqlite3_enable_load_extension(self.db, 1)
        error = _p()
        if _sqlite.sqlite3_load_extension(self.db, os.fsencode(extension), None, ctypes.byref(error)) != 0:
            message = ctypes.string_at(error).decode("latin-1") if error else "unknown error"
            _sqlite.sqlite3_free(error)
            self.close()
            raise RuntimeError("cannot load %s: %s" % (extension, message))

    def close(self):
        if self.db:
            _sqlite.sqlite3_close_v2(self.db)
            self.db = _p()

    def statements(self, sql):
        """Prepares the statements of a batch one after the other (a generator
        of Statement); raises SqlError for one that does not compile."""
        buffer = ctypes.create_string_buffer(sql, len(sql))
        base = ctypes.addressof(buffer)
        offset = 0
        while offset < len(sql):
            handle, tail = _p(), _p()
            rc = _sqlite.sqlite3_prepare_v2(self.db, base + offset, len(sql) - offset,
                                            ctypes.byref(handle), ctypes.byref(tail))
            if rc != 0:
                raise translate_error(_sqlite.sqlite3_errmsg(self.db))
            offset = (tail.value - base) if tail.value else len(sql)
            if handle.value:
                yield Statement(self, handle)

    @staticmethod
    def split(sql):
        """The statement texts of a batch: each ends at the first ';' that
        ends a statement (not one in a literal, a quoted name, a comment or
        a trigger body); text after the last one is the last."""
        texts, start = [], 0
        end = sql.find(b";")
        while end >= 0:
            if _sqlite.sqlite3_complete(sql[start:end + 1]):
                texts.append(sql[start:end + 1])
                start = end + 1
            end = sql.find(b";", end + 1)
        if start < len(sql):
            texts.append(sql[start:])
        return texts

    def prepare(self, sql):
        """The statement of a text from split(): a Statement, None for a text
        without one (blanks, comments), SqlError when it does not compile."""
        handle = _p()
        rc = _sqlite.sqlite3_prepare_v2(self.db, sql, len(sql), ctypes.byref(handle), None)
        if rc != 0:
            raise translate_error(_sqlite.sqlite3_errmsg(self.db))
        return Statement(self, handle) if handle.value else None

    def prepare_one(self, sql):
        """The first statement of sql (for a cursor); SqlError if none compiles."""
        for statement in self.statements(sql):
            return statement
        raise SqlError(102, 15, "Incorrect syntax near the end of the statement.")


# Column kinds on the wire.
INT4, INT8, VARCHAR = "int", "bigint", "varchar"


class Statement:
    """A prepared statement stepped on demand. The column kinds are known
    after describe(); rows come from next_row() (None at the end)."""

    def __init__(self, database, handle):
        self.database, self.handle = database, handle
        self.columns = _sqlite.sqlite3_column_count(handle)
        self.pending = None       # a row already stepped to, not yet handed out
        self.pending_error = None  # an error of that first step
        self.done = False
        self.kinds, self.names = [], []

    def finalize(self):
        if self.handle:
            _sqlite.sqlite3_finalize(self.handle)
            self.handle = None
            self.done = True

    def _step(self):
        rc = _sqlite.sqlite3_step(self.handle)
        if rc == SQLITE_ROW:
            return self._read_row()
        self.done = True
        if rc == SQLITE_DONE:
            return None
        raise translate_error(_sqlite.sqlite3_errmsg(self.database.db))

    def _read_row(self):
        row = []
        for i in range(self.columns):
            kind = _sqlite.sqlite3_column_type(self.handle, i)
            if kind == SQLITE_NULL:
                row.append(None)
            elif kind == SQLITE_INTEGER:
                row.append(_sqlite.sqlite3_column_int64(self.handle, i))
            elif kind == SQLITE_FLOAT:
                row.append(_sqlite.sqlite3_column_double(self.handle, i))
            else:
                n = _sqlite.sqlite3_column_bytes(self.handle, i)
                pointer = (_sqlite.sqlite3_column_blob if kind == SQLITE_BLOB else _sqlite.sqlite3_column_text)(self.handle, i)
                row.append(ctypes.string_at(pointer, n) if pointer and n else b"")
        return row

    def describe(self, defer_error):
        """Decides the column kinds: from the declared type, or, where there
        is none, from the first row's values. An error while stepping to that
        first row is raised, or with defer_error kept for next_row()."""
        declared = []
        for i in range(self.columns):
            name = _sqlite.sqlite3_column_name(self.handle, i) or b""
            self.names.append(from_cp1252(name))
            decl = _sqlite.sqlite3_column_decltype(self.handle, i)
            declared.append(decl.upper() if decl else None)
        first = None
        if self.columns and any(d is None for d in declared):
            try:
                first = self._step()
            except SqlError as error:
                if not defer_error:
                    raise
                self.pending_error = error
            self.pending = first
        for i, decl in enumerate(declared):
            if decl is not None:
                self.kinds.append(INT8 if b"BIGINT" in decl else INT4 if b"INT" in decl else VARCHAR)
            elif first is not None and isinstance(first[i], int):
                self.kinds.append(INT4 if -2**31 <= first[i] < 2**31 else INT8)
            else:
                self.kinds.append(VARCHAR)

    def next_row(self):
        if self.pending_error is not None:
            error, self.pending_error = self.pending_error, None
            self.done = True
            raise error
        if self.pending is not None:
            row, self.pending = self.pending, None
            return row
        if self.done:
            return None
        return self._step()

    def run_to_end(self):
        """Steps a statement without columns; the number of changed rows for
        one that writes, None for one that does not."""
        while self._step() is not None:
            pass
        if _sqlite.sqlite3_stmt_readonly(self.handle):
            return None
        return _sqlite.sqlite3_changes(self.database.db)


# ---------------------------------------------------------------------------
# Tokens.

PKT_SQLBATCH, PKT_REPLY, PKT_RPC, PKT_ATTENTION, PKT_LOGIN7, PKT_PRELOGIN = 1, 4, 3, 6, 0x10, 0x12
DONE_MORE, DONE_ERROR, DONE_COUNT, DONE_ATTN = 0x1, 0x2, 0x10, 0x20
TOK_DONE, TOK_DONEPROC, TOK_DONEINPROC = 0xFD, 0xFE, 0xFF

# SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, ignore case, kana and width; sort id 52.
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])
SERVER_NAME = "tdstest"


def b_varchar(text):
    data = ucs2(text)
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = ucs2(text)
    return struct.pack("<H", len(data) // 2) + data


def done_token(token, status, count=0):
    return struct.pack("<BHHQ", token, status, 0xC1 if token == TOK_DONE else 0, count)


def with_status(token, set_bits=0, clear=0):
    """A DONE, DONEPROC or DONEINPROC token with status bits changed."""
    status = (struct.unpack("<H", token[1:3])[0] | set_bits) & ~clear
    return token[:1] + struct.pack("<H", status) + token[3:]


def error_token(error):
    body = (struct.pack("<iBB", error.number, 1, error.severity) + us_varchar(error.message)
            + b_varchar(SERVER_NAME) + b_varchar("") + struct.pack("<i", 1))
    return struct.pack("<BH", 0xAA, len(body)) + body


def envchange_text(kind, new, old):
    body = bytes([kind]) + b_varchar(new) + b_varchar(old)
    return struct.pack("<BH", 0xE3, len(body)) + body


def colmetadata_token(statement):
    out = bytearray(struct.pack("<BH", 0x81, statement.columns))
    for kind, name in zip(statement.kinds, statement.names):
        out += struct.pack("<IH", 0, 0x0001 | 0x0008)  # user type; nullable, may be updatable
        if kind == VARCHAR:
            out += struct.pack("<BH", 0xA7, 8000) + COLLATION
        else:
            out += bytes([0x26, 8 if kind == INT8 else 4])
        # A name is at most 128 characters (an identifier's limit); SQLite
        # names an expression column by its whole text.
        out += b_varchar(name[:128])
    return bytes(out)


def row_token(statement, row):
    out = bytearray(b"\xD1")
    for kind, value in zip(statement.kinds, row):
        if kind == VARCHAR:
            if value is None:
                out += b"\xFF\xFF"
                continue
            if isinstance(value, float):
                value = repr(value).encode("ascii")
            elif isinstance(value, int):
                value = str(value).encode("ascii")
            value = value[:8000]
            out += struct.pack("<H", len(value)) + value
            continue
        if value is None:
            out += b"\x00"
            continue
        if isinstance(value, bytes):
            try:
                value = int(value.strip())
            except ValueError:
                raise SqlError(245, 16, "Conversion failed when converting the varchar value '%s' to data type int."
                               % from_cp1252(value))
        value = int(value)
        if kind == INT4:
            if not -2**31 <= value < 2**31:
                raise SqlError(8115, 16, "Arithmetic overflow error converting expression to data type int.")
            out += b"\x04" + struct.pack("<i", value)
        else:
            out += b"\x08" + struct.pack("<q", value)
    return bytes(out)


def return_value_token(ordinal, value):
    body = struct.pack("<H", ordinal) + b_varchar("") + b"\x01" + struct.pack("<IH", 0, 0) \
        + bytes([0x26, 4, 4]) + struct.pack("<i", value)
    return b"\xAC" + body


def return_status_token(value=0):
    return b"\x79" + struct.pack("<i", value)


# ---------------------------------------------------------------------------
# The wire.

class Dropped(Exception):
    """The client went away (or the connection is to be dropped)."""


class Cancelled(Exception):
    """The client sent ATTENTION while a reply was being written."""


class Server:
    def __init__(self, args):
        self.args = args
        self.log_lock = threading.Lock()
        self.log_file = open(args.log, "ab") if args.log else None

    def log(self, kind, text=None, options=None):
        if self.log_file is None:
            return
        line = kind.encode("ascii")
        if text is not None:
            escaped = text.replace(b"\\", b"\\\\").replace(b"\n", b"\\n").replace(b"\r", b"\\r").replace(b"\t", b"\\t")
            line += b"\t" + escaped
        if options is not None:
            line += b"\t" + options
        with self.log_lock:
            self.log_file.write(line + b"\n")
            self.log_file.flush()


def cursor_options(params):
    """The scroll and concurrency options of an sp_cursoropen call as the
    request log shows them: "scrollopt 0x0004 ccopt 0x2002" ("-" for an
    option not given)."""
    shown = []
    for name, index in (("scrollopt", 2), ("ccopt", 3)):
        value = params[index] if len(params) > index else None
        shown.append("%s %s" % (name, "0x%04X" % (value & 0xFFFFFFFF) if isinstance(value, int) else "-"))
    return " ".join(shown).encode("ascii")


class Connection:
    def __init__(self, server, sock, spid):
        self.server, self.sock, self.spid = server, sock, spid
        self.packet_size = 4096
        self.requests = 0
        self.database = None
        self.cursors = {}
        self.next_cursor = 180150001
        self.out = bytearray()
        self.out_type = PKT_REPLY
        self.packet_id = 1
        self.attention_seen = False

    # -- reading ------------------------------------------------------------

    def _recv_exact(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise Dropped()
            data += chunk
        return bytes(data)

    def read_packet(self):
        header = self._recv_exact(8)
        kind, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
        if length < 8:
            raise Dropped()
        return kind, status, self._recv_exact(length - 8)

    def read_message(self):
        kind, status, data = self.read_packet()
        while not status & 0x01:
            _, status, more = self.read_packet()
            data += more
        return kind, data

    # -- writing ------------------------------------------------------------

    def _send_packet(self, payload, last):
        header = struct.pack(">BBHHBB", self.out_type, 0x01 if last else 0x00, len(payload) + 8,
                             self.spid, self.packet_id & 0xFF, 0)
        self.packet_id += 1
        try:
            self.sock.sendall(header + payload)
        except OSError:
            raise Dropped()

    def put(self, token):
        """Adds whole tokens to the reply; full packets go out at once. Before
        each token a pending ATTENTION is looked for (after a packet went out),
        so that a cut reply still ends on a token boundary."""
        if self.attention_seen:
            raise Cancelled()
        self.out += token
        room = self.packet_size - 8
        sent = False
        while len(self.out) > room:
            self._send_packet(bytes(self.out[:room]), False)
            del self.out[:room]
            sent = True
        if sent and self._attention_waiting():
            self.attention_seen = True
            raise Cancelled()

    def _attention_waiting(self):
        readable, _, _ = select.select([self.sock], [], [], 0)
        if not readable:
            return False
        kind, _, _ = self.read_packet()
        if kind == PKT_ATTENTION:
            self.server.log("ATTENTION")
            return True
        return False  # nothing else may come while a reply is under way

    def finish(self):
        self._send_packet(bytes(self.out), True)
        self.out = bytearray()
        self.packet_id = 1

    def send_reply(self, tokens):
        """Writes a whole reply from a generator of tokens; a cancel ends it
        with DONE carrying the attention acknowledgement."""
        try:
            for token in tokens:
                self.put(token)
        except Cancelled:
            close = getattr(tokens, "close", None)
            if close:
                close()
            self.attention_seen = False
            self.out += done_token(TOK_DONE, DONE_ATTN)
        self.finish()

    # -- requests -----------------------------------------------------------

    def serve(self):
        try:
            while True:
                kind, data = self.read_message()
                self.requests += 1
                if kind == PKT_PRELOGIN:
                    self.server.log("PRELOGIN")
                    if self.withhold():
                        continue
                    self.prelogin()
                elif kind == PKT_LOGIN7:
                    self.server.log("LOGIN7")
                    if self.withhold():
                        continue
                    if not self.login(data):
                        return
                elif kind == PKT_SQLBATCH:
                    text = to_cp1252(data[self.headers_length(data):].decode("utf-16-le", "replace"))
                    self.server.log("SQLBATCH", text)
                    if self.withhold():
                        continue
                    self.send_reply(self.batch(text))
                elif kind == PKT_RPC:
                    try:
                        calls = self.parse_rpcs(data)
                    except (ValueError, IndexError, struct.error) as error:
                        self.server.log("RPC:?")
                        if self.withhold():
                            continue
                        self.send_reply(iter([error_token(SqlError(50000, 16, "Malformed RPC request: %s." % error)),
                                              done_token(TOK_DONEPROC, DONE_ERROR)]))
                        continue
                    for name, params in calls:
                        text = None
                        if name == "sp_cursoropen" and len(params) > 1 and isinstance(params[1], str):
                            text = to_cp1252(params[1])
                        self.server.log("RPC:" + name, text, cursor_options(params) if text is not None else None)
                    if self.withhold():
                        continue
                    self.send_reply(self.rpc(calls))
                elif kind == PKT_ATTENTION:
                    self.server.log("ATTENTION")
                    if self.withhold():
                        continue
                    self.out += done_token(TOK_DONE, DONE_ATTN)
                    self.finish()
                else:
                    self.server.log("UNKNOWN:%d" % kind)
                    if self.withhold():
                        continue
                    self.send_reply(iter([error_token(SqlError(50000, 16, "Unsupported request.")),
                                          done_token(TOK_DONE, DONE_ERROR)]))
        except (Dropped, ConnectionError, OSError):
            pass
        finally:
            self.close()

    def withhold(self):
        """True when the current request is to get no answer (--silent-after);
        raises Dropped when the connection is to be closed (--drop-after)."""
        args = self.server.args
        if args.drop_after and self.requests >= args.drop_after:
            raise Dropped()
        return bool(args.silent_after) and self.requests >= args.silent_after

    def close(self):
        for statement in self.cursors.values():
            statement.finalize()
        self.cursors.clear()
        if self.database:
            self.database.close()
        try:
            self.sock.close()
        except OSError:
            pass

    @staticmethod
    def headers_length(data):
        """Length of the ALL_HEADERS block that starts batches and RPCs."""
        if len(data) >= 4:
            total = struct.unpack("<I", data[:4])[0]
            if 4 <= total <= len(data):
                return total
        return 0

    def prelogin(self):
        options = [(0, bytes([15, 0, 0x07, 0xD0, 0, 0])), (1, b"\x02"), (2, b"\x00"), (3, b""), (4, b"\x00")]
        offset = len(options) * 5 + 1
        head, body = bytearray(), bytearray()
        for token, value in options:
            head += struct.pack(">BHH", token, offset + len(body), len(value))
            body += value
        self.out += bytes(head) + b"\xFF" + bytes(body)
        self.finish()

    def login(self, data):
        def field(at):
            offset, length = struct.unpack("<HH", data[at:at + 4])
            return data[offset:offset + 2 * length]
        requested = struct.unpack("<I", data[8:12])[0]
        user = field(40).decode("utf-16-le", "replace")
        raw = field(44)
        password = bytes(((b ^ 0xA5) << 4 & 0xF0) | ((b ^ 0xA5) >> 4) for b in raw).decode("utf-16-le", "replace")
        database = field(68).decode("utf-16-le", "replace") or "master"
        args = self.server.args
        if user != args.user or password != args.password:
            self.out += error_token(SqlError(18456, 14, "Login failed for user '%s'." % user))
            self.out += done_token(TOK_DONE, DONE_ERROR)
            self.finish()
            return False
        try:
            self.database = Database(args.db, args.ext)
        except RuntimeError as error:
            self.out += error_token(SqlError(4060, 11, "Cannot open database \"%s\" requested by the login. %s"
                                             % (database, error)))
            self.out += done_token(TOK_DONE, DONE_ERROR)
            self.finish()
            return False
        if 512 <= requested <= 32767:
            self.packet_size = requested
        tokens = envchange_text(1, database, "master")
        collation = bytes([7, 5]) + COLLATION + b"\x00"
        tokens += struct.pack("<BH", 0xE3, len(collation)) + collation
        program = ucs2("Microsoft SQL Server")
        ack = b"\x01" + bytes([0x74, 0x00, 0x00, 0x04]) + bytes([len(program) // 2]) + program + bytes([15, 0, 0x07, 0xD0])
        tokens += struct.pack("<BH", 0xAD, len(ack)) + ack
        tokens += envchange_text(4, str(self.packet_size), "4096")
        tokens += done_token(TOK_DONE, 0)
        self.out += tokens
        self.finish()
        return True

    # -- SQL batches --------------------------------------------------------

    def batch(self, sql):
        """Tokens of a batch. Every statement runs and is answered on its own:
        its rows (streamed) and a DONE, or, when it fails, an ERROR and a DONE
        with DONE_ERROR; every DONE but the last carries DONE_MORE. With
        --abort-batch-on-error a failing statement ends the batch, as SQL
        Server's batch-aborting errors (208, 245, 1205) do. A syntax error in
        any statement fails the whole batch before anything runs, as the
        batch is compiled as a whole."""
        prepared = []  # per statement text: a Statement, or the SqlError of its compile
        try:
            for text in self.database.split(sql):
                try:
                    statement = self.database.prepare(text)
                except SqlError as error:
                    if error.number == 102:
                        yield error_token(error)
                        yield done_token(TOK_DONE, DONE_ERROR)
                        return
                    prepared.append((text, error))
                    continue
                if statement is not None:
                    prepared.append((text, statement))
            pending = None  # the DONE of the statement before, sent once another follows
            for index, (text, statement) in enumerate(prepared):
                if pending:
                    yield pending
                    pending = None
                try:
                    if isinstance(statement, SqlError):
                        # Compiled before the statements before it ran: once more.
                        statement = self.database.prepare(text)
                        prepared[index] = (text, statement)
                        if statement is None:
                            continue
                    pending = yield from self.statement_result(statement)
                except SqlError as error:
                    yield error_token(error)
                    pending = done_token(TOK_DONE, DONE_MORE | DONE_ERROR)
                    if self.server.args.abort_batch_on_error:
                        break
                finally:
                    if isinstance(statement, Statement):
                        statement.finalize()
            yield with_status(pending, clear=DONE_MORE) if pending else done_token(TOK_DONE, 0)
        finally:
            for _, statement in prepared:
                if isinstance(statement, Statement):
                    statement.finalize()

    def statement_result(self, statement):
        """Tokens of one statement of a batch up to its DONE, which is
        returned (with DONE_MORE) for the caller to send."""
        if statement.columns:
            statement.describe(defer_error=False)
            yield colmetadata_token(statement)
            count = 0
            while True:
                row = statement.next_row()
                if row is None:
                    break
                yield row_token(statement, row)
                count += 1
            return done_token(TOK_DONE, DONE_MORE | DONE_COUNT, count)
        changes = statement.run_to_end()
        return done_token(TOK_DONE, DONE_MORE | (DONE_COUNT if changes is not None else 0), changes or 0)

    # -- RPC ----------------------------------------------------------------

    PROCEDURES = {1: "sp_cursor", 2: "sp_cursoropen", 3: "sp_cursorprepare", 4: "sp_cursorexecute",
                  5: "sp_cursorprepexec", 6: "sp_cursorunprepare", 7: "sp_cursorfetch", 8: "sp_cursoroption",
                  9: "sp_cursorclose", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute",
                  13: "sp_prepexec", 14: "sp_prepexecrpc", 15: "sp_unprepare"}

    def parse_rpcs(self, data):
        """The calls of an RPC request: (procedure name, [parameter values])."""
        pos = self.headers_length(data)
        calls = []
        while pos < len(data):
            length = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            if length == 0xFFFF:
                number = struct.unpack_from("<H", data, pos)[0]
                pos += 2
                name = self.PROCEDURES.get(number, "procedure#%d" % number)
            else:
                name = data[pos:pos + 2 * length].decode("utf-16-le", "replace")
                pos += 2 * length
            pos += 2  # option flags
            params = []
            while pos < len(data) and data[pos] not in (0x80, 0xFF, 0xFE):
                name_length = data[pos]
                pos += 1 + 2 * name_length + 1  # name, status
                value, pos = self.parse_value(data, pos)
                params.append(value)
            calls.append((name, params))
            if pos < len(data):
                pos += 1  # batch separator
        return calls

    @staticmethod
    def parse_value(data, pos):
        kind = data[pos]
        pos += 1
        if kind in (0x26, 0x68, 0x6D, 0x6A, 0x6C):  # INTN, BITN, FLTN, DECIMALN, NUMERICN
            pos += 1
            if kind in (0x6A, 0x6C):
                pos += 2
            n = data[pos]
            pos += 1
            raw = data[pos:pos + n]
            pos += n
            if n == 0:
                return None, pos
            if kind in (0x26, 0x68):
                return int.from_bytes(raw, "little", signed=True), pos
            return raw, pos
        if kind in (0x30, 0x32, 0x34, 0x38, 0x7F):  # fixed INT1, BIT, INT2, INT4, INT8
            n = {0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x7F: 8}[kind]
            return int.from_bytes(data[pos:pos + n], "little", signed=True), pos + n
        if kind in (0x63, 0x23):  # NTEXT, TEXT
            pos += 4 + 5
            n = struct.unpack_from("<i", data, pos)[0]
            pos += 4
            if n < 0:
                return None, pos
            raw = data[pos:pos + n]
            pos += n
            return (raw.decode("utf-16-le", "replace") if kind == 0x63 else from_cp1252(raw)), pos
        if kind in (0xE7, 0xA7, 0xEF, 0xAF, 0xA5, 0xAD):  # N/VARCHAR, N/CHAR, VARBINARY, BINARY
            max_length = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            if kind in (0xE7, 0xA7, 0xEF, 0xAF):
                pos += 5
            if max_length == 0xFFFF:  # partially length-prefixed
                total = struct.unpack_from("<Q", data, pos)[0]
                pos += 8
                if total == 0xFFFFFFFFFFFFFFFF:
                    return None, pos
                raw = bytearray()
                while True:
                    chunk = struct.unpack_from("<I", data, pos)[0]
                    pos += 4
                    if chunk == 0:
                        break
                    raw += data[pos:pos + chunk]
                    pos += chunk
                raw = bytes(raw)
            else:
                n = struct.unpack_from("<H", data, pos)[0]
                pos += 2
                if n == 0xFFFF:
                    return None, pos
                raw = data[pos:pos + n]
                pos += n
            if kind in (0xE7, 0xEF):
                return raw.decode("utf-16-le", "replace"), pos
            if kind in (0xA7, 0xAF):
                return from_cp1252(raw), pos
            return raw, pos
        raise ValueError("parameter type 0x%02X" % kind)

    def rpc(self, calls):
        """Tokens of the reply to the calls of one RPC request."""
        for index, (name, params) in enumerate(calls):
            last = index == len(calls) - 1
            handler = {"sp_cursoropen": self.cursor_open, "sp_cursorfetch": self.cursor_fetch,
                       "sp_cursoroption": self.cursor_option, "sp_cursorclose": self.cursor_close}.get(name)
            if handler is None:
                body = self.proc_error(SqlError(2812, 16, "Could not find stored procedure '%s'." % name))
            else:
                body = handler(params)
            for token in body:
                if token[0] == TOK_DONEPROC and not last:
                    token = with_status(token, set_bits=DONE_MORE)
                yield token

    @staticmethod
    def proc_error(error):
        yield error_token(error)
        yield return_status_token(-6 if error.number != 2812 else 0)
        yield done_token(TOK_DONEPROC, DONE_ERROR)

    def cursor_open(self, params):
        if len(params) < 2 or not isinstance(params[1], str):
            yield from self.proc_error(SqlError(16902, 16, "sp_cursoropen: The value of the parameter 'stmt' is invalid."))
            return
        try:
            statement = self.database.prepare_one(to_cp1252(params[1]))
        except SqlError as error:
            yield from self.proc_error(error)
            return
        if not statement.columns:
            statement.finalize()
            yield from self.proc_error(SqlError(16937, 16, "A server cursor cannot be opened on the given statement or statements. Use a default result set or client cursor."))
            return
        statement.describe(defer_error=True)
        handle = self.next_cursor
        self.next_cursor += 1
        self.cursors[handle] = statement
        scroll = params[2] if len(params) > 2 and isinstance(params[2], int) else 4
        concurrency = params[3] if len(params) > 3 and isinstance(params[3], int) else 1
        yield colmetadata_token(statement)
        yield return_status_token(0)
        yield return_value_token(0, handle)
        yield return_value_token(2, scroll & 0xFFFF)
        yield return_value_token(3, concurrency & 0xFFFF)
        yield return_value_token(4, -1)
        yield done_token(TOK_DONEPROC, 0)

    def cursor_option(self, params):
        if not params or params[0] not in self.cursors:
            yield from self.proc_error(SqlError(16950, 16, "The variable does not currently have a cursor allocated to it."))
            return
        yield return_status_token(0)
        yield done_token(TOK_DONEPROC, 0)

    def cursor_fetch(self, params):
        statement = self.cursors.get(params[0]) if params else None
        if statement is None:
            yield from self.proc_error(SqlError(16950, 16, "The variable does not currently have a cursor allocated to it."))
            return
        fetch_type = params[1] if len(params) > 1 and params[1] is not None else 2
        wanted = params[3] if len(params) > 3 and params[3] is not None else 1
        if fetch_type not in (1, 2) or (fetch_type == 1 and statement.done):
            yield from self.proc_error(SqlError(16911, 16, "fetch: The fetch type is not valid for a forward-only cursor."))
            return
        yield struct.pack("<BH", 0x81, 0xFFFF)  # no metadata: the open's stands
        count = 0
        error = None
        while count < max(wanted, 1):
            try:
                row = statement.next_row()
                if row is None:
                    break
                token = row_token(statement, row)
            except SqlError as failure:
                error = failure
                statement.done = True
                break
            yield token
            count += 1
        if error is not None:
            yield error_token(error)
            yield done_token(TOK_DONEINPROC, DONE_MORE | DONE_ERROR | DONE_COUNT, count)
            yield return_status_token(0)
            yield done_token(TOK_DONEPROC, DONE_ERROR)
            return
        yield done_token(TOK_DONEINPROC, DONE_MORE | DONE_COUNT, count)
        yield return_status_token(0)
        yield done_token(TOK_DONEPROC, 0)

    def cursor_close(self, params):
        statement = self.cursors.pop(params[0], None) if params else None
        if statement is None:
            yield from self.proc_error(SqlError(16950, 16, "The variable does not currently have a cursor allocated to it."))
            return
        statement.finalize()
        yield return_status_token(0)
        yield done_token(TOK_DONEPROC, 0)


def serve_connection(server, sock, spid):
    try:
        Connection(server, sock, spid).serve()
    except Exception as error:  # one connection's fault must not end the server
        sys.stderr.write("tds_server: connection %d: %r\n" % (spid, error))
        try:
            sock.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description="TDS 7.4 test server over a SQLite database")
    parser.add_argument("--db", required=True)
    parser.add_argument("--ext", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log")
    parser.add_argument("--drop-after", type=int, default=0, metavar="N",
                        help="close each connection at its N-th request, without an answer "
                             "(requests counted from 1: 1 is the pre-login, 2 the login)")
    parser.add_argument("--silent-after", type=int, default=0, metavar="N",
                        help="from each connection's N-th request on, answer nothing but keep the "
                             "connection open, reading and logging what arrives (counted as for "
                             "--drop-after: 1 is the pre-login, 2 the login)")
    parser.add_argument("--abort-batch-on-error", action="store_true",
                        help="a failing statement ends its batch; the statements after it do not run")
    args = parser.parse_args()

    # Fail at start, not at the first login, when the database or the
    # extension cannot be used.
    Database(args.db, args.ext).close()

    server = Server(args)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)
    threading.Thread(target=watch_stdin, daemon=True).start()

    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()

    spid = 51
    while True:
        try:
            sock, _ = listener.accept()
        except OSError:
            continue
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=serve_connection, args=(server, sock, spid), daemon=True).start()
        spid += 1


if __name__ == "__main__":
    main()
