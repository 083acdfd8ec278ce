#!/usr/bin/env python3
"""Parses every sample document of window_document_samples back with Python's json module and
checks what the page relies on: valid UTF-8 and JSON whatever bytes went in, no white space
between tokens, every key in its order (10 at the top of a render document, 22 per app, 13 per
offer), the type of every value (null versus "", integers that are not booleans), and the hostile
texts arriving unchanged.

Usage: check_documents.py <window_document_samples program>
"""
import json
import subprocess
import sys
import tempfile
from pathlib import Path

# The texts window_document_samples places into the documents, as the page must read them: each
# byte that is not UTF-8 reads as one U+FFFD.
HOSTILE = [
    'quote " backslash \\ slash / lt < gt > amp & </script><!-- -->',
    "line\nfeed\rreturn\ttab NUL\0 unit\x1f DEL\x7f end",
    "separators \u2028 and \u2029, no-break\u00a0space, mark \ufeff",
    "emoji \U0001F600 accents \u00e9\u00fc \u65e5\u672c",
    "${x} `back` '); alert(1); //",
    "bad \ufffd \ufffd \ufffd\ufffd \ufffd\ufffd\ufffd end",
]

# The last hostile text as a value of a settings file reaches the page: shown as text.
SHOWN_BAD = "bad \\xff \\xc3 \\xe2\\x82 \\xed\\xa0\\x80 end"

TOP_KEYS = ["version", "note", "runtime", "runtimeOk", "terminal", "setup", "desktop", "apps", "shelves", "update",
            "shelfWork"]
APP_KEYS = ["id", "name", "category", "summary", "status", "tone", "address", "open", "installed", "reviewed",
            "own", "from", "uses", "helpers", "canOpen", "canStop", "canRemove", "canForget", "passwords",
            "lesson", "canModel", "canBackup"]
UPDATE_KEYS = ["version", "busy", "problem"]
SHELF_WORK_KEYS = ["working", "waiting"]
SHELVES_KEYS = ["problem", "shelves", "answers"]
SHELF_KEYS = ["address", "name", "problem", "recipes"]
OFFER_KEYS = ["file", "address", "own", "from", "trust", "id", "name", "category", "summary", "helpers", "shows",
              "state", "problem"]
OUTCOME_OK_KEYS = ["kind", "ok", "name", "shows", "warning", "replaces"]
OUTCOME_REFUSED_KEYS = ["kind", "ok", "error"]
MADE_KEYS = ["name", "file", "items"]
ITEM_KEYS = ["key", "value"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


class Object:
    """A JSON object with its keys in the order they came, duplicates refused."""

    def __init__(self, pairs):
        self.keys = [key for key, _ in pairs]
        self.values = dict(pairs)
        if len(self.values) != len(self.keys):
            raise ValueError("duplicate key in %r" % self.keys)

    def __getitem__(self, key):
        return self.values[key]


def refuse_constant(name):
    raise ValueError("not JSON: " + name)


def load(path):
    raw = path.read_bytes()
    text = raw.decode("utf-8")  # strict: a document is valid UTF-8
    outside = []
    in_string = escaped = False
    for c in text:
        if in_string:
            if escaped:
                escaped = False
            elif c == "\\":
                escaped = True
            elif c == '"':
                in_string = False
            else:
                check(ord(c) >= 0x20, "%s: a raw control character in a string" % path.name)
        elif c == '"':
            in_string = True
        else:
            outside.append(c)
    check(not any(c.isspace() for c in outside), "%s: white space between tokens" % path.name)
    for c in "<\u2028\u2029":
        check(c not in text, "%s: a raw %r" % (path.name, c))
    return json.loads(text, object_pairs_hook=Object, parse_constant=refuse_constant)


def is_text(v):
    return isinstance(v, str)


def is_optional_text(v):
    return v is None or isinstance(v, str)


def is_bool(v):
    return isinstance(v, bool)


def is_count(v):
    return isinstance(v, int) and not isinstance(v, bool) and v >= 0


def check_keys(obj, keys, where):
    check(isinstance(obj, Object), "%s: not an object" % where)
    if isinstance(obj, Object):
        check(obj.keys == keys, "%s: keys %r, expected %r" % (where, obj.keys, keys))


def check_types(obj, types, where):
    for key, test in types.items():
        check(test(obj[key]), "%s: %s has the wrong type: %r" % (where, key, obj[key]))


def check_app(app, where):
    check_keys(app, APP_KEYS, where)
    text_keys = ["id", "name", "category", "summary", "status", "tone", "address", "open", "from", "uses", "lesson"]
    bool_keys = ["installed", "reviewed", "own", "canOpen", "canStop", "canRemove", "canForget", "passwords",
                 "canModel", "canBackup"]
    check_types(app, {**{k: is_text for k in text_keys}, **{k: is_bool for k in bool_keys}, "helpers": is_count},
                where)
    check(app["tone"] in ("busy", "ready", "off"), where + ": tone")
    check(app["open"] in ("Open", "Install and open", "Start and open"), where + ": open")


def check_render(doc, name):
    check_keys(doc, TOP_KEYS, name)
    check_types(doc, {"version": is_text, "note": is_text, "runtime": is_text,
                      "runtimeOk": lambda v: v is None or is_bool(v), "terminal": is_bool, "setup": is_bool,
                      "desktop": is_text, "apps": lambda v: isinstance(v, list), "shelves": is_count,
                      "update": lambda v: v is None or isinstance(v, Object),
                      "shelfWork": lambda v: v is None or isinstance(v, Object)}, name)
    check(doc["version"] == "0.2.0-alpha.15", name + ": version")
    check(doc["terminal"] is True, name + ": terminal")
    check(doc["setup"] == (doc["runtimeOk"] is False), name + ": setup follows runtimeOk")
    for i, app in enumerate(doc["apps"]):
        check_app(app, "%s apps[%d]" % (name, i))
    if doc["update"] is not None:
        check_keys(doc["update"], UPDATE_KEYS, name + " update")
        check_types(doc["update"], {"version": is_text, "busy": is_bool, "problem": is_optional_text}, name + " update")
    if doc["shelfWork"] is not None:
        check_keys(doc["shelfWork"], SHELF_WORK_KEYS, name + " shelfWork")
        check(is_text(doc["shelfWork"]["working"]), name + " shelfWork: working")
        check(isinstance(doc["shelfWork"]["waiting"], list) and all(is_text(w) for w in doc["shelfWork"]["waiting"]),
              name + " shelfWork: waiting")


def check_render_start(doc):
    check(doc["runtimeOk"] is None, "render-start: runtimeOk is null before the first read")
    check(doc["update"] is None, "render-start: no update is null")
    check(doc["desktop"] == "install", "render-start: desktop")
    check(doc["shelves"] == 1, "render-start: shelves")
    check([a["id"] for a in doc["apps"]] == ["n8n", "gitea", "open-webui", "ollama", "notes", "wiki"],
          "render-start: the apps in order")
    for app in doc["apps"]:
        where = "render-start " + app["id"]
        check((app["status"], app["tone"], app["open"], app["address"]) == ("not known", "off", "Start and open", ""),
              where + ": status, tone, open, address")
        for key in ("installed", "canStop", "canRemove", "canForget", "passwords", "canBackup"):
            check(app[key] is False, "%s: %s" % (where, key))
        check(app["canOpen"] is True, where + ": canOpen")
        check(app["canModel"] is (app["id"] in ("ollama", "open-webui")), where + ": canModel")
        check(app["reviewed"] is (app["id"] not in ("notes", "wiki")), where + ": reviewed")
        check(app["lesson"] == ("https://example.org/notes" if app["id"] == "notes" else ""), where + ": lesson")
    apps = {a["id"]: a for a in doc["apps"]}
    check(apps["open-webui"]["uses"] == "Ollama", "render-start: Open WebUI starts Ollama")
    check(apps["n8n"]["uses"] == "" and apps["notes"]["uses"] == "", "render-start: no uses without starts-used")
    check((apps["notes"]["own"], apps["notes"]["from"]) == (True, "zelk.app"), "render-start: notes' origin")
    check((apps["wiki"]["own"], apps["wiki"]["from"], apps["wiki"]["helpers"]) == (False, "127.0.0.1:8080", 3),
          "render-start: wiki's origin and helpers")
    check((apps["gitea"]["own"], apps["gitea"]["from"]) == (False, ""), "render-start: a built-in app's origin")


def check_render_busy(doc):
    check(doc["note"] == HOSTILE[0] + " | " + HOSTILE[4], "render-busy: note")
    check((doc["runtimeOk"], doc["desktop"], doc["shelves"]) == (True, "open", 10), "render-busy: runtime")
    apps = doc["apps"]
    expected = [  # status, tone, address
        (HOSTILE[1], "busy", "http://127.0.0.1:33009/"),
        ("stopping ...", "busy", HOSTILE[2]),
        ("starting ...", "busy", "http://127.0.0.1:33009/"),
        (HOSTILE[3], "busy", "http://127.0.0.1:33009/"),
        (HOSTILE[5], "busy", "http://127.0.0.1:33009/"),
        ("partly running", "off", "http://127.0.0.1:33009/"),
    ]
    check([(a["status"], a["tone"], a["address"]) for a in apps] == expected, "render-busy: statuses %r" %
          [(a["status"], a["tone"], a["address"]) for a in apps])
    check([a["canOpen"] for a in apps] == [False, False, True, False, False, True], "render-busy: canOpen")
    check([a["canStop"] for a in apps] == [False, False, True, False, False, True], "render-busy: canStop")
    check([a["canRemove"] for a in apps] == [False, False, False, False, False, True], "render-busy: canRemove")
    check([a["passwords"] for a in apps] == [False, False, False, False, True, True], "render-busy: passwords")
    check([a["canModel"] for a in apps] == [False, False, True, False, False, False], "render-busy: canModel")
    update = doc["update"]
    check((update["version"], update["busy"], update["problem"]) == ("0.3.0", False, HOSTILE[5]),
          "render-busy: update")


def check_render_failed(doc):
    check(doc["note"] == 'Podman\'s machine is gone, and with it the apps and their data. Press "Set up Podman".',
          "render-failed: note %r" % doc["note"])
    check((doc["runtime"], doc["runtimeOk"], doc["setup"], doc["desktop"]) == ("Docker", False, True, ""),
          "render-failed: runtime")
    check(doc["shelves"] == 0, "render-failed: shelves")
    check((doc["update"]["busy"], doc["update"]["problem"]) == (True, None), "render-failed: update")
    notes = doc["apps"][4]
    check((notes["status"], notes["open"], notes["canForget"], notes["installed"]) ==
          ("not installed", "Install and open", True, False), "render-failed: notes not installed")


def check_shelves(doc, name):
    check_keys(doc, SHELVES_KEYS, name)
    check_types(doc, {"problem": is_optional_text, "shelves": lambda v: isinstance(v, list),
                      "answers": is_optional_text}, name)
    for i, shelf in enumerate(doc["shelves"]):
        where = "%s shelves[%d]" % (name, i)
        check_keys(shelf, SHELF_KEYS, where)
        check_types(shelf, {"address": is_text, "name": is_optional_text, "problem": is_optional_text,
                            "recipes": lambda v: isinstance(v, list)}, where)
        check((shelf["name"] is None) != (shelf["problem"] is None), where + ": a name or a problem")
        for j, offer in enumerate(shelf["recipes"]):
            w = "%s recipes[%d]" % (where, j)
            check_keys(offer, OFFER_KEYS, w)
            check_types(offer, {"file": is_text, "address": is_text, "own": is_bool, "from": is_text,
                                "trust": is_text, "id": is_optional_text, "name": is_optional_text,
                                "category": is_optional_text, "summary": is_optional_text, "helpers": is_count,
                                "shows": is_optional_text, "state": is_text, "problem": is_optional_text}, w)
            check(offer["state"] in ("new", "added", "changed", "refused"), w + ": state")


def check_shelves_sample(doc):
    check(doc["problem"] == HOSTILE[2], "shelves: problem")
    broken, own, other = doc["shelves"]
    check((broken["name"], broken["problem"], broken["recipes"]) == (None, HOSTILE[3], []), "shelves: broken shelf")
    check((own["name"], own["problem"]) == (HOSTILE[4], None), "shelves: own shelf")
    new, changed, refused = own["recipes"]
    check((new["state"], new["id"], new["name"], new["helpers"], new["own"], new["from"], new["problem"]) ==
          ("new", "notes", "Notes", 0, True, "zelk.app", None), "shelves: new offer")
    check(new["shows"].startswith("Notes (Writing)\n  Keep notes in your browser.\n  Image:    "),
          "shelves: shows is the description with line feeds")
    check(not new["shows"].endswith("\n"), "shelves: no line feed after the description")
    check((changed["state"], changed["name"], changed["helpers"]) == ("changed", "Wiki caf\u00e9", 3),
          "shelves: changed offer")
    check((refused["state"], refused["problem"], refused["helpers"]) == ("refused", HOSTILE[5], 0),
          "shelves: refused offer")
    for key in ("id", "name", "category", "summary", "shows"):
        check(refused[key] is None, "shelves: refused offer's %s is null" % key)
    check(refused["trust"].startswith("It comes from the Zelk's own shelf."), "shelves: own trust")
    (added,) = other["recipes"]
    check((added["state"], added["own"], added["from"]) == ("added", False, "example.org:8443"),
          "shelves: added offer from another host")
    check(added["trust"].startswith("The Zelk team did not review it."), "shelves: other trust")


def check_outcome(doc, name):
    check(isinstance(doc, Object) and is_bool(doc["ok"]), name + ": ok")
    if doc["ok"]:
        check_keys(doc, OUTCOME_OK_KEYS, name)
        check_types(doc, {"kind": is_text, "name": is_text, "shows": is_text, "warning": is_text,
                          "replaces": is_bool}, name)
    else:
        check_keys(doc, OUTCOME_REFUSED_KEYS, name)
        check_types(doc, {"kind": is_text, "error": is_text}, name)


def check_made(doc, name):
    check_keys(doc, MADE_KEYS, name)
    check_types(doc, {"name": is_text, "file": is_text, "items": lambda v: isinstance(v, list)}, name)
    for i, item in enumerate(doc["items"]):
        check_keys(item, ITEM_KEYS, "%s items[%d]" % (name, i))
        check_types(item, {"key": is_text, "value": is_text}, "%s items[%d]" % (name, i))


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([program, folder], check=True)
        paths = sorted(Path(folder).glob("*.json"))
        docs = {p.stem: load(p) for p in paths}
    check(len(docs) == 10, "expected 10 sample documents, found %r" % sorted(docs))
    for name, doc in docs.items():
        kind = name.split("-")[0]
        {"render": check_render, "shelves": check_shelves, "outcome": check_outcome, "made": check_made}[kind](
            doc, name)
    check_render_start(docs["render-start"])
    check_render_busy(docs["render-busy"])
    check_render_failed(docs["render-failed"])
    check_shelves_sample(docs["shelves"])
    check((docs["shelves-empty"]["problem"], docs["shelves-empty"]["shelves"]) == (None, []), "shelves-empty")
    preview, add, refused = docs["outcome-preview"], docs["outcome-add"], docs["outcome-refused"]
    check((preview["kind"], preview["replaces"], add["kind"], add["replaces"]) == ("preview", False, "add", True),
          "outcome: kind and replaces")
    check(preview["shows"] == add["shows"] and preview["shows"].startswith("Wiki caf\u00e9 (Knowledge)\n"),
          "outcome: shows")
    check(preview["warning"] == "Nobody has reviewed this recipe. It runs a program from the image named above: "
          "add it only if you trust who gave it to you.", "outcome: warning")
    check((refused["kind"], refused["ok"], refused["error"]) == ("add", False, HOSTILE[1] + HOSTILE[5]),
          "outcome-refused")
    made = docs["made"]
    check((made["name"], made["file"]) == ("Wiki caf\u00e9", HOSTILE[3] + "\\apps\\wiki\\.env"), "made: name, file")
    # A value of the settings file is shown as text: its bytes that are not UTF-8 as their escapes.
    check([(i["key"], i["value"]) for i in made["items"]] == [("DB_PASSWORD", HOSTILE[0]),
                                                              ("INDEX_TOKEN", SHOWN_BAD)],
          "made: items %r" % [(i["key"], i["value"]) for i in made["items"]])
    check(docs["made-empty"]["items"] == [], "made-empty: items")
    for failure in failures:
        print("FAILED:", failure)
    if failures:
        return 1
    print("%d documents checked" % len(docs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
