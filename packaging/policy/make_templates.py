#!/usr/bin/env python3
"""Writes the Group Policy templates lintrel.admx and en-US/lintrel.adml beside this script.

Every value a policy can set is one entry of VALUES below: adding a value there (and running
this script) adds it to the templates of both programs, as a mandatory policy and as a
recommended one. tests/packaging/policy_templates_test.cpp checks that the templates name
exactly the values the programs read.
"""
from dataclasses import dataclass, field
from pathlib import Path
from xml.sax.saxutils import escape

BAUD_RATES = ["600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"]


@dataclass
class Value:
    name: str            # the registry value's name
    label: str           # the policy's name in the editor
    explain: str         # what it does
    programs: tuple      # "lintrel", "lintrel-cli" or both
    kind: str            # text, decimal, boolean, enum (list positions), choice (texts), list
    items: list = field(default_factory=list)  # enum/choice: (label, value)
    low: int = 0         # decimal: the range
    high: int = 0


BOTH = ("lintrel", "lintrel-cli")
PORTS = ("Every port takes this value; a port's own value can be set as the same value name in the subkey "
         "Ports\\COMn of the policy key.")
VALUES = [
    Value("Port", "Port", "The port the Port list selects at start (lintrel.exe), or the port captured when no "
          "--port is given (lintrel-cli), such as COM3.", BOTH, "text"),
    Value("Ports", "Ports", "The ports lintrel-cli captures, separated by commas (COM5,COM7); they stand for any "
          "--port given.", ("lintrel-cli",), "text"),
    Value("Connected ports", "Connected ports", "The ports Lintrel connects at start, separated by commas "
          "(COM5,COM7).", ("lintrel",), "text"),
    Value("Reconnect at start", "Reconnect at start", "Whether the remembered ports are connected at start.",
          ("lintrel",), "boolean"),
    Value("Follow devices", "Follow devices", "Whether a port follows its device to another port name.",
          ("lintrel",), "boolean"),
    Value("Baud rate", "Baud rate", "The speed of the serial line. " + PORTS, BOTH, "enum",
          [(rate + " baud", index) for index, rate in enumerate(BAUD_RATES)]),
    Value("Parity", "Parity", "The parity of the serial line. " + PORTS, BOTH, "enum",
          [(name, index) for index, name in enumerate(["None", "Odd", "Even", "Mark", "Space"])]),
    Value("Databit", "Data bits", "The data bits of the serial line. " + PORTS, BOTH, "enum",
          [("7 data bits", 0), ("8 data bits", 1)]),
    Value("Stop bit", "Stop bits", "The stop bits of the serial line. " + PORTS, BOTH, "enum",
          [("1 stop bit", 0), ("2 stop bits", 1)]),
    Value("End char", "End character", "The character code that ends a line, 1 to 31 (13: carriage return). "
          + PORTS, BOTH, "decimal", low=1, high=31),
    Value("Truncate", "Truncate the end character", "Whether the end character of a line is left out. " + PORTS,
          BOTH, "boolean"),
    Value("Port name prefix", "Port name before each line", "Whether each line begins with the port's name and "
          "a colon (COM3:). " + PORTS, BOTH, "boolean"),
    Value("Prefix text", "Prefix text", "Text typed before each line, with the escapes \\t \\r \\n \\\\ \\xHH and "
          "\\u{HHHH}. " + PORTS, BOTH, "text"),
    Value("Suffix", "Suffix", "Text typed after each line (\\t: Tab to the next field), with the same escapes. "
          + PORTS, BOTH, "text"),
    Value("Replace", "Replacements", "Replacements applied to each line in order, one FROM=TO an entry (an = in "
          "FROM written \\x3D), stored as Replace 1, Replace 2, ... " + PORTS, BOTH, "list"),
    Value("Control characters", "Control characters", "What is typed for a control character other than the end "
          "character. " + PORTS, BOTH, "choice", [("Keep", "keep"), ("Drop", "drop"), ("Name (<GS>)", "name")]),
    Value("Encoding", "Encoding", "How the bytes a port receives are read as characters: the system's ANSI code "
          "page, UTF-8 or Latin-1. " + PORTS, BOTH, "choice",
          [("ANSI (system code page)", "ansi"), ("UTF-8", "utf-8"), ("Latin-1", "latin-1")]),
    Value("Key delay", "Key delay (ms)", "The pause between two keys of a typed line, 0 to 1000 milliseconds (0: none). "
          + PORTS, BOTH, "decimal", low=0, high=1000),
    Value("Line delay", "Line delay (ms)", "The pause after each typed line, 0 to 10000 milliseconds (0: none). "
          + PORTS, BOTH, "decimal", low=0, high=10000),
    Value("Reconnection delay", "Reconnection delay (ms)", "How long a port whose link was lost waits before it is "
          "opened again, 500 to 5000 milliseconds. " + PORTS, BOTH, "decimal", low=500, high=5000),
    Value("Pattern", "Record pattern", "A regular expression (RE2's syntax) a line must match; its named groups "
          "(?P<name>...) are fields. " + PORTS, BOTH, "text"),
    Value("Unmatched lines", "Lines the pattern does not match", "What becomes of a line the pattern does not "
          "match: not typed and reported, not typed and not reported, or typed as shaping makes it. " + PORTS,
          BOTH, "choice", [("Report (not typed)", "report"), ("Drop", "drop"), ("Type", "type")]),
    Value("GS1", "GS1 element strings", "Whether a line is read as a GS1 element string, each Application Identifier "
          "a field. " + PORTS, BOTH, "boolean"),
    Value("Template", "Record template", "What is typed instead of the line: {name} is a field, {line} the whole shaped "
          "line, {port} the port's name, {time:FORMAT} the time the line arrived. " + PORTS, BOTH, "text"),
    Value("Repeat window", "Repeat window (ms)", "A line equal to the one before it within this many milliseconds "
          "is not typed, 0 to 60000 (0: repeats are typed). " + PORTS, BOTH, "decimal", low=0, high=60000),
    Value("Send on connect", "Text sent on connect", "Text sent to the device each time the port is opened, with "
          "the escapes of the prefix text. " + PORTS, BOTH, "text"),
    Value("Poll", "Poll text", "Text sent to the device to ask it for a reading, with the escapes of the prefix "
          "text. " + PORTS, BOTH, "text"),
    Value("Poll every", "Poll every (ms)", "How often the poll text is sent while the port is connected, 100 to "
          "3600000 milliseconds. " + PORTS, BOTH, "decimal", low=100, high=3600000),
    Value("Reply timeout", "Reply timeout (ms)", "A poll with no line back within this many milliseconds is "
          "reported, 100 to 3600000. " + PORTS, BOTH, "decimal", low=100, high=3600000),
    Value("Hotkey", "Hotkey that polls", "A key combination that sends the poll text at once from any program, "
          "such as Ctrl+Alt+F9 (Ctrl, Alt, Shift and Win, then A to Z, 0 to 9, F1 to F24 or a named key). A port's "
          "own: set it as the value Hotkey of the subkey Ports\\COMn of the policy key; each port needs its own.",
          ("lintrel",), "text"),
    Value("Target", "Target application", "The application a port's lines are typed into: a program name (the "
          "executable, such as excel.exe; on X11 a WM_CLASS or the program of the window), optionally a colon and "
          "a part of its window's title. Empty: the window in front. " + PORTS, BOTH, "text"),
    Value("Elsewhere", "When another window is in front", "What becomes of a line for the target application while "
          "another window is in front: it waits until the target is in front (at most 100 lines and 5 minutes a "
          "port), the target is brought to the front, or the line is reported as not typed. " + PORTS, BOTH,
          "choice", [("Hold until the target is in front", "hold"), ("Bring the target to the front", "activate"),
                     ("Report as not typed", "drop")]),
    Value("Delivery", "How lines are typed", "How a line is typed: the keys of the keyboard layout, every "
          "character by itself (Unicode, for remote sessions), or pasted through the clipboard (Ctrl+V), which is "
          "put back afterwards. " + PORTS, BOTH, "choice",
          [("Keys", "keys"), ("Unicode characters", "unicode"), ("Pasted through the clipboard", "paste")]),
    Value("Not typed sound", "Sound when a line is not typed", "Whether the system's warning sound is played "
          "for each line that is not typed. " + PORTS, BOTH, "boolean"),
]

PROGRAMS = {"lintrel": ("Lintrel", "Lintrel"), "lintrel-cli": ("LintrelCli", "lintrel-cli (command line)")}
POLICY_KEY = "Software\\Policies\\VANTORIL SOFTWARE\\"


def policy_id(program, value, recommended):
    words = "".join(part.capitalize() for part in value.name.replace("-", " ").split())
    return PROGRAMS[program][0] + "_" + words + ("_Recommended" if recommended else "")


def element(value, ident):
    name = escape(value.name, {'"': "&quot;"})
    if value.kind == "text":
        return f'<text id="{ident}" valueName="{name}" maxLength="1000"/>'
    if value.kind == "decimal":
        return f'<decimal id="{ident}" valueName="{name}" minValue="{value.low}" maxValue="{value.high}"/>'
    if value.kind == "list":
        return f'<list id="{ident}" valuePrefix="{name} "/>'
    if value.kind == "boolean":
        return (f'<boolean id="{ident}" valueName="{name}"><trueValue><decimal value="1"/></trueValue>'
                f'<falseValue><decimal value="0"/></falseValue></boolean>')
    items = []
    for index, (_, stored) in enumerate(value.items):
        data = f'<decimal value="{stored}"/>' if value.kind == "enum" else f'<string>{escape(stored)}</string>'
        items.append(f'<item displayName="$(string.{ident}_{index})"><value>{data}</value></item>')
    return f'<enum id="{ident}" valueName="{name}" required="true">' + "".join(items) + "</enum>"


def presentation(value, ident):
    label = escape(value.label) + ":"
    if value.kind == "text":
        return f'<textBox refId="{ident}"><label>{label}</label></textBox>'
    if value.kind == "decimal":
        return f'<decimalTextBox refId="{ident}">{label}</decimalTextBox>'
    if value.kind == "list":
        return f'<listBox refId="{ident}">{label}</listBox>'
    if value.kind == "boolean":
        return f'<checkBox refId="{ident}">{escape(value.label)}</checkBox>'
    return f'<dropdownList refId="{ident}" noSort="true">{label}</dropdownList>'


def main():
    admx_policies, strings, presentations = [], [], []
    categories = []
    for program, (prefix, title) in PROGRAMS.items():
        categories.append(f'    <category name="{prefix}" displayName="$(string.{prefix})"><parentCategory ref="Vantoril_Lintrel"/></category>')
        categories.append(f'    <category name="{prefix}_Recommended" displayName="$(string.{prefix}_Recommended)">'
                          f'<parentCategory ref="{prefix}"/></category>')
        strings.append(f'      <string id="{prefix}">{escape(title)}</string>')
        strings.append(f'      <string id="{prefix}_Recommended">Recommended: defaults the user may change</string>')
        for value in VALUES:
            if program not in value.programs:
                continue
            for recommended in (False, True):
                ident = policy_id(program, value, recommended)
                key = POLICY_KEY + program + ("\\Recommended" if recommended else "")
                category = prefix + ("_Recommended" if recommended else "")
                admx_policies.append(
                    f'    <policy name="{ident}" class="Both" displayName="$(string.{ident})" '
                    f'explainText="$(string.{ident}_Explain)" presentation="$(presentation.{ident})" '
                    f'key="{escape(key)}">\n'
                    f'      <parentCategory ref="{category}"/>\n'
                    f'      <supportedOn ref="Lintrel_Policies"/>\n'
                    f'      <elements>{element(value, ident)}</elements>\n'
                    f'    </policy>')
                explain = value.explain + (" The user may change this value." if recommended else
                                           " The user cannot change it: the program shows \"Set by your "
                                           "administrator\" for it.")
                strings.append(f'      <string id="{ident}">{escape(value.label)}</string>')
                strings.append(f'      <string id="{ident}_Explain">{escape(explain)}</string>')
                for index, (label, _) in enumerate(value.items):
                    strings.append(f'      <string id="{ident}_{index}">{escape(label)}</string>')
                presentations.append(f'      <presentation id="{ident}">{presentation(value, ident)}</presentation>')

    folder = Path(__file__).resolve().parent
    (folder / "lintrel.admx").write_text(
        '<?xml version="1.0" encoding="utf-8"?>\n'
        '<!-- Written by make_templates.py: edit that, not this. -->\n'
        '<policyDefinitions xmlns="http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions" '
        'revision="1.0" schemaVersion="1.0">\n'
        '  <policyNamespaces>\n'
        '    <target prefix="lintrel" namespace="VantorilSoftware.Policies.Lintrel"/>\n'
        '  </policyNamespaces>\n'
        '  <resources minRequiredRevision="1.0"/>\n'
        '  <supportedOn>\n'
        '    <definitions><definition name="Lintrel_Policies" displayName="$(string.Lintrel_Policies)"/></definitions>\n'
        '  </supportedOn>\n'
        '  <categories>\n'
        '    <category name="Vantoril_Lintrel" displayName="$(string.Vantoril_Lintrel)"/>\n'
        + "\n".join(categories) + "\n"
        '  </categories>\n'
        '  <policies>\n' + "\n".join(admx_policies) + "\n  </policies>\n</policyDefinitions>\n")
    (folder / "en-US" / "lintrel.adml").write_text(
        '<?xml version="1.0" encoding="utf-8"?>\n'
        '<!-- Written by make_templates.py: edit that, not this. -->\n'
        '<policyDefinitionResources xmlns="http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions" '
        'revision="1.0" schemaVersion="1.0">\n'
        '  <displayName>Lintrel</displayName>\n'
        '  <description>Settings of Lintrel, set for every user and computer</description>\n'
        '  <resources>\n'
        '    <stringTable>\n'
        '      <string id="Vantoril_Lintrel">Lintrel</string>\n'
        '      <string id="Lintrel_Policies">Lintrel, from the version that reads policies</string>\n'
        + "\n".join(strings) + "\n"
        '    </stringTable>\n'
        '    <presentationTable>\n' + "\n".join(presentations) + "\n"
        '    </presentationTable>\n'
        '  </resources>\n'
        '</policyDefinitionResources>\n')


if __name__ == "__main__":
    main()
