#!/usr/bin/python3
"""The data steps of the Windows release (scripts/release.sh runs the rest).

  regdiff BEFORE AFTER           what a registration added below HKLM\\Software\\Classes, from two
                                 copies of a Wine prefix's system.reg taken before and after
                                 regsvr32: the registration as a table (stdout)
  wxs --arch A --own T --other T --template F --var NAME=VALUE...
                                 the MSI source for architecture A: the template with the rows
                                 of its registration table T (and of the other architecture's,
                                 to find the rows both MSIs write)
  package-code MSI                a package code made from the MSI's bytes (stdout): the same
                                 package gets the same code, another package another
  manifest --arch A --table T --version V --name N
                                 the side-by-side assembly manifest of pelmora.dll, from the same
                                 table: its class, ProgIDs, type library and interfaces

Rows both MSIs write to one place go into one component with one GUID in both, so Windows
Installer counts both products as its clients and removing one MSI leaves them to the other.

A registration table has one row per line, fields separated by tabs:
  value  KEY  NAME  DATA   a REG_SZ value (NAME empty: the key's default value)
  key    KEY               a key written without values or subkeys
  root   KEY               a key registration created whole (none of it existed before)
KEY is below HKLM\\Software\\Classes as Wine stores it: the 32-bit view under Wow6432Node\\.
"""

import argparse
import hashlib
import re
import string
import sys
import uuid
from xml.sax.saxutils import escape, quoteattr

CLASSES = "software\\classes\\"
WOW = "wow6432node\\"
# Fixed: the component and upgrade codes below are made from it, so they stay the same from build
# to build and from version to version.
NAMESPACE = uuid.UUID("6f1e3c52-9a0d-4b7e-8c21-5d4f0a9b7e13")
# Where release.sh registers each DLL for the capture, and the MSI folder property that stands
# for the same folder.
PROGRAM_FILES = {
    "x64": ("C:\\Program Files\\", "[ProgramFiles64Folder]"),
    "x86": ("C:\\Program Files (x86)\\", "[ProgramFilesFolder]"),
}


def fail(message):
    sys.exit("pelmora_package: " + message)


# --- Wine's registry files ------------------------------------------------------------------------


def unescape(text):
    """A key name or string as Wine writes it: backslash escapes, \\xHHHH for other characters."""
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a", "b": "\b", "e": "\x1b", "f": "\f", "v": "\v"}
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2 :])
            if not m:
                fail("bad escape in " + text)
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        else:
            out.append(simple.get(n, n))
            i += 2
    return "".join(out)


def quoted(text, start):
    """The string that starts with the quote at text[start]; returns it and the index past it."""
    i = start + 1
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == '"':
            return unescape(text[start + 1 : i]), i + 1
        i += 1
    fail("unterminated string: " + text)


def read_registry(path):
    """{key (lower case): (key, {name (lower case): (name, type, data)})} below Software\\Classes."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for raw in f:
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\") and not line.startswith("["):  # a hex value continues
                pending = line[:-1]
                continue
            if line.startswith("["):
                end = line.rfind("]")
                name = unescape(line[1:end])
                if name.lower().startswith(CLASSES):
                    name = name[len(CLASSES) :]
                    current = keys.setdefault(name.lower(), (name, {}))[1]
                else:
                    current = None
                continue
            if current is None or not line or line.startswith("#") or line.startswith(";"):
                continue
            if line.startswith("@="):
                name, rest = "", line[2:]
            elif line.startswith('"'):
                name, end = quoted(line, 0)
                if line[end : end + 1] != "=":
                    fail("bad value line: " + line)
                rest = line[end + 1 :]
            else:
                continue
            if rest.startswith('"'):
                value = ("REG_SZ", quoted(rest, 0)[0])
            else:
                value = ("other", rest)  # dword:, hex(...):, str(2): ...
            current[name.lower()] = (name,) + value
    return keys


def with_ancestors(keys):
    every = set()
    for k in keys:
        parts = k.split("\\")
        for n in range(1, len(parts) + 1):
            every.add("\\".join(parts[:n]))
    return every


def regdiff(before_path, after_path):
    before, after = read_registry(before_path), read_registry(after_path)
    rows = []
    for k, (key, values) in sorted(after.items()):
        old = before.get(k, (key, {}))[1]
        for n, (name, vtype, data) in sorted(values.items()):
            if n in old and old[n][1:] == (vtype, data):
                continue
            if n in old:
                fail(f"registration changed a value that was there before: {key} [{name}]")
            if vtype != "REG_SZ":
                fail(f"registration wrote a value that is not REG_SZ: {key} [{name}] {data}")
            if any(c in data or c in name for c in "\t\n\r"):
                fail(f"tab or line break in {key} [{name}]")
            rows.append(("value", key, name, data))
    after_keys = with_ancestors(after)  # an empty key that gained subkeys is written only as their ancestor
    for k, (key, values) in before.items():
        gone = set(values) - set(after.get(k, (key, {}))[1])
        if k not in after_keys or gone:
            fail(f"registration removed something below {key}")
    old_keys = with_ancestors(before)
    new_keys = with_ancestors(after) - old_keys
    names = {k: v[0] for k, v in after.items()}
    for k in sorted(new_keys):
        key = names.get(k)
        if key is None:  # an ancestor Wine does not write: spell it as its descendants do
            d = next(n for n in names if n.startswith(k + "\\"))
            key = names[d][: len(k)]
        parent = k.rpartition("\\")[0]
        if parent not in new_keys:
            rows.append(("root", key))
        if k in after and not after[k][1] and not any(n.startswith(k + "\\") for n in new_keys):
            rows.append(("key", key))
    for row in rows:
        print("\t".join(row))


# --- registration tables --------------------------------------------------------------------------


def read_table(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "value" and len(fields) == 4 or fields[0] in ("key", "root") and len(fields) == 2:
                rows.append(tuple(fields))
            elif line.strip():
                fail(f"{path}: bad row: {line!r}")
    return rows


def formatted(data, arch):
    """A captured value as MSI formatted text: literal brackets escaped, the Program Files folder of
    the capture replaced by the folder property the MSI installs below."""
    folder, prop = PROGRAM_FILES[arch]
    text = data.replace("[", "\0[").replace("]", "[\\]]").replace("\0[", "[\\[]")
    if folder.lower() in text.lower():
        at = text.lower().index(folder.lower())
        text = text[:at] + prop + text[at + len(folder) :]
    if re.search(r"[A-Za-z]:\\", text):
        fail(f"a path outside {folder}Pelmora in {data!r}")
    return text


def msi_rows(rows, arch, note=False):
    """Each row as (view, key below HKCR, Registry-table name, value or None), comparable across
    architectures; view is 32 for keys under Wow6432Node, else 0 (the writer's own view).

    A 32-bit package writes only the 32-bit view (and the keys both views share), so the x86 rows
    of a key registered in both views (the 64-bit twin of a Wow6432Node key: Wine's 32-bit
    RegisterTypeLib registers the interfaces in both) are left out, and named on stderr."""
    out = []
    left = set()
    wow = {r[1].lower()[len(WOW) :] for r in rows if r[1].lower().startswith(WOW)}
    for row in rows:
        key = row[1]
        view = 0
        if key.lower().startswith(WOW):
            view, key = 32, key[len(WOW) :]
        elif arch == "x86" and any(key.lower() == w or key.lower().startswith(w + "\\") for w in wow):
            left.add(key.split("\\")[0] + "\\" + key.split("\\")[1] if "\\" in key else key)
            continue
        if row[0] == "value":
            name = row[2]
            if name in ("+", "-", "*"):
                fail(f"a value named {name} cannot be written by an MSI: {row[1]}")
            out.append((view, key, name, formatted(row[3], arch)))
        elif row[0] == "key":
            out.append((view, key, "*", None))  # created on install, deleted on uninstall
        else:
            out.append((view, key, "-", None))  # deleted whole on uninstall
    if len(set(out)) != len(out):
        fail("a row twice in the registration table")
    if note and left:
        print(f"pelmora_package: x86 MSI: the 64-bit view's {', '.join(sorted(left))} left out", file=sys.stderr)
    return out


def component_xml(cid, guid, win64, rows):
    lines = [f'<Component Id="{cid}" Guid="{guid}" Win64="{"yes" if win64 else "no"}">']
    order = sorted(rows, key=lambda r: (r[3] is None, r[1].lower(), r[2].lower()))  # a value first: the key path
    for n, (_, key, name, value) in enumerate(order):
        attrs = f'Root="HKCR" Key={quoteattr(key)}'
        if name:
            attrs += f" Name={quoteattr(name)}"
        attrs += f' Type="string" Value={quoteattr(value or "")}'
        if n == 0:
            attrs += ' KeyPath="yes"'
        lines.append(f"  <RegistryValue Id=\"{cid}_{n}\" {attrs}/>")
    lines.append("</Component>")
    return lines


def wxs(args):
    own = msi_rows(read_table(args.own), args.arch, note=True)
    other_arch = "x86" if args.arch == "x64" else "x64"
    other = set(msi_rows(read_table(args.other), other_arch))
    # Shared by the two MSIs: rows both registrations write alike to one place whatever the
    # package's bitness, the 32-bit view and the type library key (which Windows keeps as one for
    # both views, with a win32 and a win64 subkey). The ProgIDs are alike too, but a 32-bit
    # component of the 64-bit MSI would put them where 64-bit hosts do not look (Wine's installer
    # writes a 32-bit component's ProgIDs under Wow6432Node), so each MSI keeps its own.
    def is_shared(r):
        return r in other and (r[0] == 32 or r[1].lower().startswith("typelib\\"))

    shared = [r for r in own if is_shared(r)]
    only = [r for r in own if not is_shared(r)]
    comps, refs = [], []

    def add(cid, name, win64, rows):
        if rows:
            comps.extend(component_xml(cid, str(uuid.uuid5(NAMESPACE, name)).upper(), win64, rows))
            refs.append(f'<ComponentRef Id="{cid}"/>')

    if args.arch == "x64":
        add("RegistryOwnView", "registry/x64/64", True, [r for r in only if r[0] == 0])
        add("RegistryOther", "registry/x64/32", False, [r for r in only if r[0] == 32])
    else:
        add("RegistryOwnView", "registry/x86", False, only)
    # Alike in both MSIs, so Windows Installer counts the two products as its clients.
    add("RegistryShared", "registry/shared", False, shared)
    variables = dict(v.split("=", 1) for v in args.var)
    variables.update(
        {
            "REGISTRY_COMPONENTS": "\n".join("      " + line for line in comps),
            "REGISTRY_REFS": "\n".join("      " + line for line in refs),
            "PRODUCT_CODE": str(uuid.uuid5(NAMESPACE, f"product/{args.arch}/{variables['VERSION']}")).upper(),
            "UPGRADE_CODE": str(uuid.uuid5(NAMESPACE, f"upgrade/{args.arch}")).upper(),
            "FILES_GUID": str(uuid.uuid5(NAMESPACE, f"files/{args.arch}")).upper(),
            "PROGRAM_FILES": "ProgramFiles64Folder" if args.arch == "x64" else "ProgramFilesFolder",
            "WIN64": "yes" if args.arch == "x64" else "no",
        }
    )
    with open(args.template, encoding="utf-8") as f:
        sys.stdout.write(string.Template(f.read()).substitute(variables))


# --- the assembly manifest ------------------------------------------------------------------------

# The OLEMISC bits by the names assembly manifests give them, lowest bit first.
OLEMISC = (
    "recomposeonresize onlyiconic insertnotreplace static cantlinkinside canlinkbyole1 islinkobject "
    "insideout activatewhenvisible renderingisdeviceindependent invisibleatruntime alwaysrun "
    "actslikebutton actslikelabel nouiactivate alignable simpleframe setclientsitefirst imemode "
    "ignoreactivatewhenvisible wantstomenumerge supportsmultilevelundo"
).split()


def misc_names(value):
    bits = int(value)
    names = [n for i, n in enumerate(OLEMISC) if bits & (1 << i)]
    if bits >> len(OLEMISC):
        fail(f"MiscStatus {value} has bits without a manifest name")
    return ",".join(names)


def manifest(args):
    values = {}
    for row in read_table(args.table):
        if row[0] == "value":
            key = row[1][len(WOW) :] if row[1].lower().startswith(WOW) else row[1]
            values[(key.lower(), row[2].lower())] = row[3]

    def get(key, name=""):
        return values.get((key.lower(), name.lower()))

    classes = sorted({k.split("\\")[1] for k, _ in values if k.startswith("clsid\\") and k.endswith("\\inprocserver32")})
    if len(classes) != 1:
        fail(f"expected one class with an InprocServer32 key, found {classes}")
    clsid = next(k.split("\\")[1] for k, _ in values if k.startswith("clsid\\")).upper()
    c = "CLSID\\" + clsid
    server = get(c + "\\InprocServer32")
    tlbid = get(c + "\\TypeLib")
    version = get(c + "\\Version")
    arch = {"x64": "amd64", "x86": "x86"}[args.arch]
    threading = get(c + "\\InprocServer32", "ThreadingModel")
    progid = get(c + "\\ProgID")
    attrs = [
        f"clsid={quoteattr(clsid)}",
        f"threadingModel={quoteattr(threading)}",
        f"progid={quoteattr(progid)}",
        f"tlbid={quoteattr(tlbid)}",
        f"description={quoteattr(get(c))}",
    ]
    for aspect, attr in (("", "miscStatus"), ("\\1", "miscStatusContent")):
        misc = get(c + "\\MiscStatus" + aspect)
        if misc and misc_names(misc):
            attrs.append(f"{attr}={quoteattr(misc_names(misc))}")
    lines = [
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
        "<!-- Pelmora for registration-free use: put this file and pelmora.dll in the host's folder",
        f"     and name the assembly {args.name} in the host's application manifest. -->",
        '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
        f'  <assemblyIdentity type="win32" name={quoteattr(args.name)} version={quoteattr(args.version)}'
        f" processorArchitecture={quoteattr(arch)}/>",
        f"  <file name={quoteattr(server.rpartition(chr(92))[2])}>",
        f"    <comClass {' '.join(attrs)}>",
    ]
    vi = get(c + "\\VersionIndependentProgID")
    if vi:
        lines.append(f"      <progid>{escape(vi)}</progid>")
    lines += [
        "    </comClass>",
        f"    <typelib tlbid={quoteattr(tlbid)} version={quoteattr(version)} helpdir=\"\"/>",
        "  </file>",
    ]
    for iid in sorted({k.split("\\")[1] for k, _ in values if k.startswith("interface\\")}):
        i = "Interface\\" + iid
        stub, lib = get(i + "\\ProxyStubClsid32"), get(i + "\\TypeLib")
        lines.append(
            f"  <comInterfaceExternalProxyStub name={quoteattr(get(i))} iid={quoteattr(iid.upper())}"
            f" proxyStubClsid32={quoteattr(stub)} tlbid={quoteattr(lib)}/>"
        )
    lines.append("</assembly>")
    sys.stdout.write("\r\n".join(lines) + "\r\n")


def package_code(path):
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    print(str(uuid.uuid5(NAMESPACE, "package/" + digest)).upper())


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    d = sub.add_parser("regdiff")
    d.add_argument("before")
    d.add_argument("after")
    w = sub.add_parser("wxs")
    w.add_argument("--arch", choices=PROGRAM_FILES, required=True)
    w.add_argument("--own", required=True)
    w.add_argument("--other", required=True)
    w.add_argument("--template", required=True)
    w.add_argument("--var", action="append", default=[])
    c = sub.add_parser("package-code")
    c.add_argument("msi")
    m = sub.add_parser("manifest")
    m.add_argument("--arch", choices=PROGRAM_FILES, required=True)
    m.add_argument("--table", required=True)
    m.add_argument("--version", required=True)
    m.add_argument("--name", required=True)
    args = p.parse_args()
    if args.command == "regdiff":
        regdiff(args.before, args.after)
    elif args.command == "wxs":
        wxs(args)
    elif args.command == "package-code":
        package_code(args.msi)
    else:
        manifest(args)


if __name__ == "__main__":
    main()
