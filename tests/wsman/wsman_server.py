#!/usr/bin/env python3
"""A WS-Management (WinRM) test server that serves the classes of a Kestrane
snapshot the way WinRM serves root\\cimv2: HTTP/1.1 keep-alive, one path
(others 404); NTLMv2 inside Negotiate with sealed messages over HTTP (an
unsealed request is refused); HTTPS with --https CERT KEY (plain SOAP, Basic
with --basic); Enumerate/Pull/Release; GetClass in CIM-XML; faults shaped
like the ones Windows sends.

--generate CLASS=N adds a class of N instances made on demand (ProcessId i,
Name "process<i>.exe", WorkingSetSize 4294967296 + 4096 i, CreationDate
2024-01-01 + i seconds at +060). --drop-after-pulls, --stall-after-pulls,
--refuse-after-pulls and --hostile-after-pulls N MODE (endless, trickle,
empty) misbehave on the Pull after N answered ones; --fail-class
CLASS=HRESULT makes Enumerate of CLASS fail with that WMI error.

Prints "PORT <n>" when ready; exits on SIGTERM or when its stdin closes.
"""

import os
import sys


def _use_debian_python():
    # The NTLM pieces come from Debian's python3-ntlm-auth and
    # python3-cryptography. A python3 found earlier in PATH (pyenv, a venv)
    # may lack them: run again under Debian's own interpreter.
    import importlib.util
    if importlib.util.find_spec('ntlm_auth') is not None:
        return
    debian = '/usr/bin/python3'
    if os.path.exists(debian) and os.path.realpath(sys.executable) != os.path.realpath(debian):
        os.execv(debian, [debian] + sys.argv)
    sys.exit('wsman_server: python3-ntlm-auth is not installed (apt-get install python3-ntlm-auth)')


_OPENSSL_CONF = """openssl_conf = openssl_init
[openssl_init]
providers = provider_sect
[provider_sect]
default = default_sect
legacy = legacy_sect
[default_sect]
activate = 1
[legacy_sect]
activate = 1
"""


def _activate_md4():
    # OpenSSL reads OPENSSL_CONF once, when it is first initialised (here: by
    # importing hashlib). Point it at a file that activates the default and
    # legacy providers, initialise, and remove the file again.
    if '_hashlib' in sys.modules or 'ssl' in sys.modules:
        raise RuntimeError('OpenSSL was initialised before MD4 could be enabled')
    import shutil
    import tempfile
    directory = tempfile.mkdtemp(prefix='wsman-openssl-')
    try:
        path = os.path.join(directory, 'openssl.cnf')
        with open(path, 'w') as f:
            f.write(_OPENSSL_CONF)
        os.environ['OPENSSL_CONF'] = path
        import hashlib
        try:
            hashlib.new('md4', b'')
        except ValueError:
            sys.exit('wsman_server: OpenSSL has no MD4 even with its legacy provider')
    finally:
        os.environ.pop('OPENSSL_CONF', None)
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == '__main__':
    _use_debian_python()
    _activate_md4()

import argparse  # noqa: E402  (after the OpenSSL set-up above, on purpose)
import base64  # noqa: E402
import datetime  # noqa: E402
import email.utils  # noqa: E402
import hashlib  # noqa: E402
import hmac  # noqa: E402
import http.server  # noqa: E402
import json  # noqa: E402
import re  # noqa: E402
import signal  # noqa: E402
import socket  # noqa: E402
import stat  # noqa: E402
import struct  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402
import uuid  # noqa: E402
import xml.etree.ElementTree as ET  # noqa: E402

from ntlm_auth.rc4 import ARC4  # noqa: E402
from ntlm_auth.session_security import SessionSecurity  # noqa: E402

# --------------------------------------------------------------------------
# Names
# --------------------------------------------------------------------------

NS_S = 'http://www.w3.org/2003/05/soap-envelope'
NS_A = 'http://schemas.xmlsoap.org/ws/2004/08/addressing'
NS_W = 'http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd'
NS_N = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration'
NS_P = 'http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd'
NS_B = 'http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd'
NS_F = 'http://schemas.microsoft.com/wbem/wsman/1/wsmanfault'
NS_XSI = 'http://www.w3.org/2001/XMLSchema-instance'
NS_CIM = 'http://schemas.dmtf.org/wbem/wscim/1/common'

ANONYMOUS = NS_A + '/role/anonymous'
WMI_URI = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/'
CIMV2_URI = WMI_URI + 'root/cimv2/'
CIMXML_URI = 'http://schemas.dmtf.org/wbem/cim-xml/2/cim-schema/2/'

ACTION_ENUMERATE = NS_N + '/Enumerate'
ACTION_PULL = NS_N + '/Pull'
ACTION_RELEASE = NS_N + '/Release'
ACTION_GET = 'http://schemas.xmlsoap.org/ws/2004/09/transfer/Get'
ACTION_WSMAN_FAULT = 'http://schemas.dmtf.org/wbem/wsman/1/wsman/fault'
ACTION_ENUM_FAULT = NS_N + '/fault'
ACTION_ADDR_FAULT = NS_A + '/fault'

MACHINE = '127.0.0.1'

# WinRM error numbers (winerror.h, FACILITY_WINRM) used in the faults.
WSMAN_CANNOT_PROCESS_FILTER = 0x8033801A
WSMAN_INVALID_ENUMERATION_CONTEXT = 0x8033801B
WSMAN_ACTION_NOT_SUPPORTED = 0x80338013
WSMAN_INVALID_RESOURCE_URI = 0x8033803B
WSMAN_SCHEMA_VALIDATION_ERROR = 0x80338041
WSMAN_INVALID_XML = 0x80338043
WSMAN_UNEXPECTED_SELECTORS = 0x8033805B
WBEM_E_INVALID_QUERY = 0x80041017

# Texts of WMI errors as WMI formats them (with the trailing blank).
WMI_MESSAGES = {0x80041003: 'Access denied ', 0x80041017: 'Invalid query '}

CIM_TYPE_NAMES = {
    2: 'sint16', 3: 'sint32', 4: 'real32', 5: 'real64', 8: 'string',
    11: 'boolean', 13: 'object', 16: 'sint8', 17: 'uint8', 18: 'uint16',
    19: 'uint32', 20: 'sint64', 21: 'uint64', 101: 'datetime',
    102: 'reference', 103: 'char16',
}
INTEGER_TYPES = {2, 3, 16, 17, 18, 19, 20, 21}
REAL_TYPES = {4, 5}

def log(message):
    sys.stderr.write('wsman_server: %s\n' % message)
    sys.stderr.flush()


# --------------------------------------------------------------------------
# XML text helpers
# --------------------------------------------------------------------------

# Characters XML 1.0 cannot carry at all (C0 controls other than tab, LF, CR).
_INVALID_XML_CHARS = re.compile('[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]')


def xml_text(value):
    """Escapes text content; CR as a reference so that parsers keep it."""
    text = (value.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')
            .replace('\r', '&#13;'))
    if _INVALID_XML_CHARS.search(text):
        text = _INVALID_XML_CHARS.sub('\ufffd', text)
    return text


def xml_attr(value):
    return xml_text(value).replace('"', '&quot;')


def new_uuid():
    return 'uuid:' + str(uuid.uuid4()).upper()


# --------------------------------------------------------------------------
# The data: a snapshot plus generated classes
# --------------------------------------------------------------------------

class Property:
    __slots__ = ('name', 'lower', 'cimtype', 'array', 'origin')

    def __init__(self, name, cimtype, array, origin):
        self.name = name
        self.lower = name.lower()
        self.cimtype = cimtype
        self.array = array
        self.origin = origin


class WmiClass:
    """One class: its declared properties and a sequence of instances (dicts
    keyed by property name in any letter case)."""

    def __init__(self, name, properties, instances):
        self.name = name
        self.properties = properties
        # WMI delivers properties in alphabetical order, ignoring case.
        self.sorted_properties = sorted(properties, key=lambda p: p.lower)
        self.instances = instances


class GeneratedInstances:
    """Instances made on demand, so 100 000 of them cost nothing up front."""

    EPOCH = datetime.datetime(2024, 1, 1)

    def __init__(self, count):
        self.count = count

    def __len__(self):
        return self.count

    def __getitem__(self, i):
        if not 0 <= i < self.count:
            raise IndexError(i)
        created = self.EPOCH + datetime.timedelta(seconds=i)
        return {
            'ProcessId': i,
            'Name': 'process%d.exe' % i,
            'WorkingSetSize': str(4294967296 + 4096 * i),
            'CreationDate': created.strftime('%Y%m%d%H%M%S') + '.000000+060',
        }


def generated_class(name, count):
    return WmiClass(name, [
        Property('ProcessId', 19, False, 'Win32_Process'),
        Property('Name', 8, False, 'CIM_ManagedSystemElement'),
        Property('WorkingSetSize', 21, False, 'CIM_Process'),
        Property('CreationDate', 101, False, 'CIM_Process'),
    ], GeneratedInstances(count))


def load_snapshot(path):
    """Reads the classes of a snapshot. The C++ loader is the authority on the
    format; this only checks what the server relies on."""
    with open(path, 'r', encoding='utf-8-sig') as f:
        document = json.load(f)
    if document.get('format') != 'kestrane-snapshot' or document.get('version') != 1:
        raise ValueError('%s is not a Kestrane snapshot (version 1)' % path)
    classes = {}
    for name, body in document['classes'].items():
        properties = [Property(p['name'], int(p['cimtype']), bool(p['array']), p.get('origin', ''))
                      for p in body['properties']]
        for p in properties:
            if p.cimtype not in CIM_TYPE_NAMES:
                raise ValueError('class %s, property %s: unknown CIM type %d' % (name, p.name, p.cimtype))
        classes[name.lower()] = WmiClass(name, properties, body['instances'])
    return document.get('computer') or 'KESTRANE', classes


# --------------------------------------------------------------------------
# Values as WinRM renders them
# --------------------------------------------------------------------------

def dmtf_to_xml(text):
    """A DMTF datetime or interval as the WS-CIM element WinRM sends:
    cim:Datetime (xs:dateTime with the same wall-clock time and offset; Z for
    offset 0; fraction without trailing zeros) or cim:Interval
    (xs:duration P<d>DT<h>H<m>M<s>S). Anything else, or a value with '*'
    fields, goes as cim:CIM_DateTime holding the DMTF text itself."""
    if len(text) == 25 and text[14] == '.' and '*' not in text and text[:14].isdigit() \
            and text[15:21].isdigit():
        micro = text[15:21]
        fraction = ('.' + micro.rstrip('0')) if micro != '000000' else ''
        if text[21] == ':' and text[22:] == '000':
            days, hours, minutes, seconds = (int(text[0:8]), int(text[8:10]),
                                             int(text[10:12]), int(text[12:14]))
            return '<cim:Interval>P%dDT%dH%dM%d%sS</cim:Interval>' % (
                days, hours, minutes, seconds, fraction)
        if text[21] in '+-' and text[22:].isdigit():
            offset = int(text[22:])
            if offset == 0:
                zone = 'Z'
            else:
                zone = '%s%02d:%02d' % (text[21], offset // 60, offset % 60)
            return '<cim:Datetime>%s-%s-%sT%s:%s:%s%s%s</cim:Datetime>' % (
                text[0:4], text[4:6], text[6:8], text[8:10], text[10:12], text[12:14],
                fraction, zone)
    return '<cim:CIM_DateTime>%s</cim:CIM_DateTime>' % xml_text(text)


_NAMESPACE_PREFIX = re.compile(r'^(?:\\\\[^\\]+\\)?((?:[A-Za-z0-9_]+[\\/])*[A-Za-z0-9_]+):(?=[A-Za-z_])')
_CLASS_NAME = re.compile(r'[A-Za-z_][A-Za-z0-9_]*')


def parse_wmi_path(text):
    """'[\\\\HOST\\root\\cimv2:]Class.Key="value"[,Key2=5]' (or 'Class=@')
    -> (namespace, class, [(key, value)]). Inside quotes \\\\ is a backslash
    and \\" a quote. Raises ValueError on anything else."""
    namespace = 'root/cimv2'
    rest = text
    m = _NAMESPACE_PREFIX.match(text)
    if m:
        namespace = m.group(1).replace('\\', '/')
        rest = text[m.end():]
    m = _CLASS_NAME.match(rest)
    if not m:
        raise ValueError('no class name')
    class_name = m.group(0)
    pos = m.end()
    if rest[pos:] == '=@':
        return namespace, class_name, []
    if pos == len(rest):
        return namespace, class_name, []
    if rest[pos] != '.':
        raise ValueError('expected "." after the class name')
    pos += 1
    keys = []
    while True:
        m = _CLASS_NAME.match(rest, pos)
        if not m or m.end() >= len(rest) or rest[m.end()] != '=':
            raise ValueError('expected Key= at %d' % pos)
        key = m.group(0)
        pos = m.end() + 1
        if pos < len(rest) and rest[pos] == '"':
            pos += 1
            value = []
            while True:
                if pos >= len(rest):
                    raise ValueError('unterminated quoted value')
                c = rest[pos]
                if c == '\\' and pos + 1 < len(rest) and rest[pos + 1] in '\\"':
                    value.append(rest[pos + 1])
                    pos += 2
                elif c == '"':
                    pos += 1
                    break
                else:
                    value.append(c)
                    pos += 1
            value = ''.join(value)
        else:
            end = rest.find(',', pos)
            end = len(rest) if end < 0 else end
            value = rest[pos:end]
            pos = end
            if not value:
                raise ValueError('empty value for %s' % key)
        keys.append((key, value))
        if pos == len(rest):
            return namespace, class_name, keys
        if rest[pos] != ',':
            raise ValueError('expected "," at %d' % pos)
        pos += 1


def reference_xml(text):
    """A WMI object path as the endpoint reference WinRM sends."""
    try:
        namespace, class_name, keys = parse_wmi_path(text)
    except ValueError as e:
        log('reference %r is not a WMI path (%s): sent as text' % (text, e))
        return xml_text(text)
    parts = ['<a:Address>%s</a:Address><a:ReferenceParameters><w:ResourceURI>%s%s/%s</w:ResourceURI>'
             % (ANONYMOUS, WMI_URI, xml_text(namespace), xml_text(class_name))]
    if keys:
        parts.append('<w:SelectorSet>')
        for key, value in keys:
            parts.append('<w:Selector Name="%s">%s</w:Selector>' % (xml_attr(key), xml_text(value)))
        parts.append('</w:SelectorSet>')
    parts.append('</a:ReferenceParameters>')
    return ''.join(parts)


def value_xml(cimtype, value):
    """The content of one property element for one (non-Null) value."""
    if cimtype in INTEGER_TYPES:
        return str(int(value))  # also drops leading zeros of 64-bit decimal strings
    if cimtype in REAL_TYPES:
        return repr(float(value))
    if cimtype == 11:
        return 'true' if value else 'false'
    if cimtype == 101:
        return dmtf_to_xml(value)
    if cimtype == 102:
        return reference_xml(value)
    return xml_text(str(value))  # string, char16, object (kept as text by snapshots)


def instance_xml(wmi_class, instance):
    """One instance as WinRM renders it: the class element with p bound to the
    class's resource URI, one element per property in alphabetical order,
    Null as xsi:nil, arrays as repeated elements (an empty array: none)."""
    name = wmi_class.name
    parts = ['<p:%s xmlns:p="%s%s" xmlns:cim="%s" xsi:type="p:%s_Type">'
             % (name, CIMV2_URI, name, NS_CIM, name)]
    values = {k.lower(): v for k, v in instance.items()}
    for prop in wmi_class.sorted_properties:
        value = values.get(prop.lower)
        tag = 'p:' + prop.name
        if value is None:
            parts.append('<%s xsi:nil="true"/>' % tag)
        elif prop.array:
            for element in value:
                parts.append('<%s>%s</%s>' % (tag, value_xml(prop.cimtype, element), tag))
        else:
            parts.append('<%s>%s</%s>' % (tag, value_xml(prop.cimtype, value), tag))
    parts.append('</p:%s>' % name)
    return ''.join(parts)


def class_cimxml(wmi_class):
    """GetClass answer: DSP0201 CIM-XML, properties in declared order."""
    name = wmi_class.name
    origins = {p.origin for p in wmi_class.properties if p.origin and p.origin.lower() != name.lower()}
    # The snapshot keeps origins, not the class's ancestry: the superclass is
    # known only when exactly one other class declares properties.
    superclass = ' SUPERCLASS="%s"' % xml_attr(next(iter(origins))) if len(origins) == 1 else ''
    parts = ['<CLASS NAME="%s"%s>' % (xml_attr(name), superclass)]
    for prop in wmi_class.properties:
        own = not prop.origin or prop.origin.lower() == name.lower()
        attributes = ' NAME="%s"' % xml_attr(prop.name)
        cimtype_qualifier = CIM_TYPE_NAMES[prop.cimtype]
        if prop.cimtype == 102:
            reference_class = _reference_class(wmi_class, prop)
            if reference_class:
                attributes += ' REFERENCECLASS="%s"' % xml_attr(reference_class)
            cimtype_qualifier = 'ref:' + reference_class if reference_class else 'ref'
            element = 'PROPERTY.ARRAY' if prop.array else 'PROPERTY.REFERENCE'
            if prop.array:
                attributes += ' TYPE="reference"'
        else:
            element = 'PROPERTY.ARRAY' if prop.array else 'PROPERTY'
            if prop.cimtype == 13:
                attributes += ' TYPE="string" EmbeddedObject="object"'
            else:
                attributes += ' TYPE="%s"' % CIM_TYPE_NAMES[prop.cimtype]
        if prop.origin:
            attributes += ' CLASSORIGIN="%s"' % xml_attr(prop.origin)
        if not own:
            attributes += ' PROPAGATED="true"'
        parts.append('<%s%s>' % (element, attributes))
        # WMI gives every property its CIMTYPE qualifier.
        parts.append('<QUALIFIER NAME="CIMTYPE" TYPE="string" TOSUBCLASS="false">'
                     '<VALUE>%s</VALUE></QUALIFIER>' % xml_text(cimtype_qualifier))
        parts.append('</%s>' % element)
    parts.append('</CLASS>')
    return ''.join(parts)


def _reference_class(wmi_class, prop):
    """The class a reference property points at, from the first instance that
    has a value (snapshots do not declare it)."""
    if isinstance(wmi_class.instances, GeneratedInstances):
        return ''
    for instance in wmi_class.instances:
        for key, value in instance.items():
            if key.lower() == prop.lower and value:
                text = value[0] if isinstance(value, list) else value
                try:
                    return parse_wmi_path(text)[1]
                except ValueError:
                    return ''
    return ''


# --------------------------------------------------------------------------
# Faults
# --------------------------------------------------------------------------

class Fault(Exception):
    """A SOAP 1.2 fault as WinRM sends it (HTTP 500)."""

    def __init__(self, action, subcode, reason, wsman_code, message_xml, code='s:Sender'):
        super().__init__(reason)
        self.action = action
        self.code = code
        self.subcode = subcode
        self.reason = reason
        self.wsman_code = wsman_code
        self.message_xml = message_xml

    def body(self):
        return ('<s:Fault><s:Code><s:Value>%s</s:Value><s:Subcode><s:Value>%s</s:Value></s:Subcode>'
                '</s:Code><s:Reason><s:Text xml:lang="en-US">%s</s:Text></s:Reason><s:Detail>'
                '<f:WSManFault xmlns:f="%s" Code="%d" Machine="%s"><f:Message>%s</f:Message>'
                '</f:WSManFault></s:Detail></s:Fault>'
                % (self.code, self.subcode, xml_text(self.reason), NS_F, self.wsman_code, MACHINE,
                   self.message_xml))


def wsman_fault(subcode, wsman_code, reason, action=ACTION_WSMAN_FAULT, code='s:Sender'):
    return Fault(action, subcode, reason, wsman_code, xml_text(reason), code)


def provider_fault(action, subcode, outer_code, reason, inner_code, inner_message, query):
    """A fault from the WMI plug-in: the WMI error and an __ExtendedStatus
    nested in f:Message, as in captures of Windows."""
    status = ('<p:__ExtendedStatus xmlns:p="%s__ExtendedStatus" xmlns:cim="%s" '
              'xsi:type="p:__ExtendedStatus_Type" xml:lang=""><p:Description xsi:nil="true"/>'
              '<p:Operation>ExecQuery</p:Operation><p:ParameterInfo>%s</p:ParameterInfo>'
              '<p:ProviderName>WinMgmt</p:ProviderName><p:StatusCode xsi:nil="true"/>'
              '</p:__ExtendedStatus>' % (CIMV2_URI, NS_CIM, xml_text(query)))
    message = ('<f:ProviderFault provider="WMI Provider" path="%%systemroot%%\\system32\\WsmWmiPl.dll">'
               '<f:WSManFault Code="%d" Machine="%s"><f:Message>%s</f:Message></f:WSManFault>'
               '<f:ExtendedError>%s</f:ExtendedError></f:ProviderFault>'
               % (inner_code, MACHINE, xml_text(inner_message), status))
    return Fault(action, subcode, reason, outer_code, message)


CANNOT_PROCESS_FILTER_REASON = ('The data source could not process the filter. The filter might be '
                                'missing or it might be invalid. Change the filter and try the '
                                'request again.')


def class_missing_fault(query):
    # As captured from Windows: enumeration fault action, n:CannotProcessFilter,
    # 2150858778 outside and inside; 0x80041010 itself does not appear.
    return provider_fault(ACTION_ENUM_FAULT, 'n:CannotProcessFilter', WSMAN_CANNOT_PROCESS_FILTER,
                          CANNOT_PROCESS_FILTER_REASON, WSMAN_CANNOT_PROCESS_FILTER,
                          'The specified class does not exist in the given namespace. ', query)


def invalid_query_fault(query):
    return provider_fault(ACTION_ENUM_FAULT, 'n:CannotProcessFilter', WSMAN_CANNOT_PROCESS_FILTER,
                          CANNOT_PROCESS_FILTER_REASON, WBEM_E_INVALID_QUERY,
                          WMI_MESSAGES[WBEM_E_INVALID_QUERY], query)


def wmi_error_fault(hresult, query):
    message = WMI_MESSAGES.get(hresult, 'WMI error 0x%08X ' % hresult)
    return provider_fault(ACTION_WSMAN_FAULT, 'w:InternalError', hresult, message, hresult,
                          message, query)


def schema_fault(what):
    return wsman_fault('w:SchemaValidationError', WSMAN_SCHEMA_VALIDATION_ERROR,
                       'The SOAP XML in the message does not match the corresponding XML schema '
                       'definition. Change the XML and retry. (%s)' % what)


# --------------------------------------------------------------------------
# The WS-Management service
# --------------------------------------------------------------------------

class DropConnection(Exception):
    """Close the TCP connection without answering."""


class StallConnection(Exception):
    """Never answer, keep the connection open."""


class RefuseLogin(Exception):
    """Answer 401, as a server does whose login has ended."""
class HostileAnswer(Exception):
    """Answer with a body that never ends, fast ("endless") or a byte a
    second ("trickle")."""

    def __init__(self, mode):
        Exception.__init__(self, mode)
        self.mode = mode


class Enumeration:
    __slots__ = ('wmi_class', 'query', 'position', 'pulls', 'lock')

    def __init__(self, wmi_class, query):
        self.wmi_class = wmi_class
        self.query = query
        self.position = 0
        self.pulls = 0
        self.lock = threading.Lock()


_WQL = re.compile(r'^\s*select\s+\*\s+from\s+([A-Za-z_][A-Za-z0-9_]*)\s*$', re.IGNORECASE)


def q(ns, name):
    return '{%s}%s' % (ns, name)


class WsmanService:
    def __init__(self, classes, fail_classes, trouble, hostile=None):
        self.classes = classes
        self.fail_classes = fail_classes
        self.trouble = trouble  # (pulls answered, exception raised then) or None
        self.hostile = hostile  # (pulls, mode) or None
        self.enumerations = {}  # per server, not per connection, as WinRM keeps them
        self.lock = threading.Lock()

    # -- envelope ---------------------------------------------------------

    @staticmethod
    def envelope(action, relates_to, body):
        return ('<s:Envelope xml:lang="en-US" xmlns:s="%s" xmlns:a="%s" xmlns:n="%s" xmlns:w="%s" '
                'xmlns:xsi="%s"><s:Header><a:Action>%s</a:Action><a:MessageID>%s</a:MessageID>'
                '<a:To>%s</a:To><a:RelatesTo>%s</a:RelatesTo></s:Header><s:Body>%s</s:Body>'
                '</s:Envelope>'
                % (NS_S, NS_A, NS_N, NS_W, NS_XSI, action, new_uuid(), ANONYMOUS,
                   xml_text(relates_to), body))

    def handle(self, soap):
        """SOAP request bytes -> (HTTP status, SOAP answer bytes)."""
        relates_to = ''
        try:
            root = self.parse(soap)
            header = root.find(q(NS_S, 'Header'))
            body = root.find(q(NS_S, 'Body'))
            if header is None or body is None:
                raise schema_fault('the envelope needs a Header and a Body')
            relates_to = (header.findtext(q(NS_A, 'MessageID')) or '').strip()
            action = (header.findtext(q(NS_A, 'Action')) or '').strip()
            resource_uri = (header.findtext(q(NS_W, 'ResourceURI')) or '').strip()
            max_envelope = self.int_header(header, q(NS_W, 'MaxEnvelopeSize'), 512000)
            if action == ACTION_ENUMERATE:
                reply_action, reply = self.enumerate(resource_uri, body, max_envelope)
            elif action == ACTION_PULL:
                reply_action, reply = self.pull(body, max_envelope)
            elif action == ACTION_RELEASE:
                reply_action, reply = self.release(body)
            elif action == ACTION_GET and resource_uri.lower().startswith(CIMXML_URI.lower()):
                reply_action, reply = self.get_class(resource_uri, header)
            else:
                raise wsman_fault('a:ActionNotSupported', WSMAN_ACTION_NOT_SUPPORTED,
                                  'The WS-Management service does not support the action '
                                  'specified in the request. (%s)' % action,
                                  action=ACTION_ADDR_FAULT)
            return 200, self.envelope(reply_action, relates_to, reply).encode('utf-8')
        except Fault as fault:
            log('fault %s %d: %s' % (fault.subcode, fault.wsman_code, fault.reason))
            return 500, self.envelope(fault.action, relates_to, fault.body()).encode('utf-8')

    @staticmethod
    def parse(soap):
        try:
            text = soap.decode('utf-8')
        except UnicodeDecodeError:
            raise wsman_fault('w:SchemaValidationError', WSMAN_INVALID_XML,
                              'The WS-Management service cannot process the request because '
                              'the XML is invalid. (not UTF-8)')
        # Never let a document declare entities or load a DTD.
        if '<!DOCTYPE' in text or '<!ENTITY' in text:
            raise wsman_fault('w:SchemaValidationError', WSMAN_INVALID_XML,
                              'The WS-Management service cannot process the request because '
                              'the XML is invalid. (DTD)')
        try:
            root = ET.fromstring(text.lstrip('\ufeff'))
        except ET.ParseError as e:
            raise wsman_fault('w:SchemaValidationError', WSMAN_INVALID_XML,
                              'The WS-Management service cannot process the request because '
                              'the XML is invalid. (%s)' % e)
        if root.tag != q(NS_S, 'Envelope'):
            raise schema_fault('not a SOAP 1.2 envelope')
        return root

    @staticmethod
    def int_header(parent, tag, default):
        text = parent.findtext(tag)
        if text is None:
            return default
        try:
            value = int(text.strip())
        except ValueError:
            raise schema_fault('%s is not a number' % tag)
        if value <= 0:
            raise schema_fault('%s must be positive' % tag)
        return value

    def find_class(self, name):
        return self.classes.get(name.lower())

    # -- Enumerate, Pull, Release ------------------------------------------

    def enumerate(self, resource_uri, body, max_envelope):
        request = body.find(q(NS_N, 'Enumerate'))
        if request is None:
            raise schema_fault('Enumerate action without n:Enumerate')
        if not resource_uri.lower().startswith(CIMV2_URI.lower()):
            raise wsman_fault('a:DestinationUnreachable', WSMAN_INVALID_RESOURCE_URI,
                              'The WS-Management service cannot process the request. The resource '
                              'URI is missing or it has an incorrect format. (%s)' % resource_uri)
        query_filter = request.find(q(NS_W, 'Filter'))
        query = '' if query_filter is None else ''.join(query_filter.itertext())
        m = _WQL.match(query)
        if not m:
            raise invalid_query_fault(query)
        class_name = m.group(1)
        if class_name.lower() in self.fail_classes:
            raise wmi_error_fault(self.fail_classes[class_name.lower()], query)
        wmi_class = self.find_class(class_name)
        if wmi_class is None:
            raise class_missing_fault(query)
        max_elements = self.int_header(request, q(NS_W, 'MaxElements'), 1)
        enumeration = Enumeration(wmi_class, query)
        context = new_uuid()
        parts = ['<n:EnumerateResponse><n:EnumerationContext>%s</n:EnumerationContext>' % context]
        items, done = self.take(enumeration, max_elements, max_envelope)
        if items:
            parts.append('<w:Items>%s</w:Items>' % items)
        if done:
            parts.append('<w:EndOfSequence/>')
        if not done:
            with self.lock:
                self.enumerations[context] = enumeration
        parts.append('</n:EnumerateResponse>')
        return ACTION_ENUMERATE + 'Response', ''.join(parts)

    def lookup(self, request):
        context = (request.findtext(q(NS_N, 'EnumerationContext')) or '').strip()
        with self.lock:
            enumeration = self.enumerations.get(context)
        if enumeration is None:
            raise Fault(ACTION_ENUM_FAULT, 'n:InvalidEnumerationContext',
                        'The WS-Enumeration context in the enumeration is not valid. Enumeration '
                        'may have been completed or canceled. You cannot use this enumeration '
                        'context anymore. Start a new enumeration.',
                        WSMAN_INVALID_ENUMERATION_CONTEXT,
                        xml_text('The enumeration context is not valid. '), code='s:Receiver')
        return context, enumeration

    def pull(self, body, max_envelope):
        request = body.find(q(NS_N, 'Pull'))
        if request is None:
            raise schema_fault('Pull action without n:Pull')
        context, enumeration = self.lookup(request)
        max_elements = self.int_header(request, q(NS_N, 'MaxElements'), 1)
        with enumeration.lock:
            if self.trouble and enumeration.pulls >= self.trouble[0]:
                raise self.trouble[1]()
            hostile = self.hostile is not None and enumeration.pulls >= self.hostile[0]
            if hostile and self.hostile[1] != 'empty':
                raise HostileAnswer(self.hostile[1])
            enumeration.pulls += 1
            if hostile:
                items, done = '', False
            else:
                items, done = self.take(enumeration, max_elements, max_envelope)
        parts = ['<n:PullResponse>']
        if done:
            with self.lock:
                self.enumerations.pop(context, None)
        else:
            parts.append('<n:EnumerationContext>%s</n:EnumerationContext>' % context)
        if items:
            parts.append('<n:Items>%s</n:Items>' % items)
        if done:
            parts.append('<n:EndOfSequence/>')
        parts.append('</n:PullResponse>')
        return ACTION_PULL + 'Response', ''.join(parts)

    def release(self, body):
        request = body.find(q(NS_N, 'Release'))
        if request is None:
            raise schema_fault('Release action without n:Release')
        context, _ = self.lookup(request)
        with self.lock:
            self.enumerations.pop(context, None)
        return ACTION_RELEASE + 'Response', ''

    @staticmethod
    def take(enumeration, max_elements, max_envelope):
        """Renders the next items: at most max_elements, and (like WinRM) no
        more than fit in the envelope size the client allows, but at least
        one. Returns (items XML, whether the sequence has ended)."""
        instances = enumeration.wmi_class.instances
        budget = max_envelope - 4096  # room for the envelope around the items
        rendered = []
        size = 0
        position = enumeration.position
        end = min(len(instances), position + max_elements)
        while position < end:
            item = instance_xml(enumeration.wmi_class, instances[position])
            if rendered and size + len(item) > budget:
                break
            rendered.append(item)
            size += len(item)
            position += 1
        enumeration.position = position
        return ''.join(rendered), position >= len(instances)

    # -- GetClass in CIM-XML --------------------------------------------

    def get_class(self, resource_uri, header):
        selectors = {}
        selector_set = header.find(q(NS_W, 'SelectorSet'))
        if selector_set is not None:
            for selector in selector_set.findall(q(NS_W, 'Selector')):
                selectors[selector.get('Name', '').lower()] = ''.join(selector.itertext()).strip()
        namespace = selectors.get('__cimnamespace', '').replace('\\', '/').lower()
        tail = resource_uri[len(CIMXML_URI):]
        class_name = selectors.get('classname') or (tail if tail != '*' else '')
        invalid = wsman_fault('w:InvalidSelectors', WSMAN_UNEXPECTED_SELECTORS,
                              'The WS-Management service cannot process the request because the '
                              'request contained invalid selectors for the resource. ')
        if namespace != 'root/cimv2' or not class_name:
            raise invalid
        wmi_class = self.find_class(class_name)
        if wmi_class is None:
            raise invalid
        return ACTION_GET + 'Response', class_cimxml(wmi_class)


# --------------------------------------------------------------------------
# NTLM acceptor (MS-NLMP), NTLMv2 only
# --------------------------------------------------------------------------

NTLMSSP = b'NTLMSSP\x00'
F_UNICODE = 0x00000001
F_OEM = 0x00000002
F_REQUEST_TARGET = 0x00000004
F_SIGN = 0x00000010
F_SEAL = 0x00000020
F_NTLM = 0x00000200
F_ALWAYS_SIGN = 0x00008000
F_TARGET_TYPE_SERVER = 0x00020000
F_EXTENDED_SESSION_SECURITY = 0x00080000
F_TARGET_INFO = 0x00800000
F_VERSION = 0x02000000
F_128 = 0x20000000
F_KEY_EXCH = 0x40000000
F_56 = 0x80000000

AV_EOL, AV_NB_COMPUTER, AV_NB_DOMAIN, AV_DNS_COMPUTER, AV_DNS_DOMAIN = 0, 1, 2, 3, 4
AV_FLAGS, AV_TIMESTAMP, AV_CHANNEL_BINDINGS = 6, 7, 10


class NtlmError(Exception):
    pass


def _ntlm_field(message, offset):
    if len(message) < offset + 8:
        raise NtlmError('message too short')
    length, _, start = struct.unpack_from('<HHI', message, offset)
    if start + length > len(message):
        raise NtlmError('field beyond the message')
    return message[start:start + length]


def _av_pairs(data):
    pairs = {}
    pos = 0
    while pos + 4 <= len(data):
        av_id, length = struct.unpack_from('<HH', data, pos)
        pos += 4
        if av_id == AV_EOL:
            break
        pairs[av_id] = data[pos:pos + length]
        pos += length
    return pairs


def _hmac_md5(key, data):
    return hmac.new(key, data, hashlib.md5).digest()


class NtlmAcceptor:
    """One connection's NTLM exchange: NEGOTIATE -> CHALLENGE, then
    AUTHENTICATE -> a SessionSecurity (server side) for sealing."""

    def __init__(self, user, nt_hash, computer, channel_binding_hash):
        self.user = user
        self.nt_hash = nt_hash
        self.computer = computer
        self.channel_binding_hash = channel_binding_hash  # MD5 of gss bindings, HTTPS only
        self.negotiate = None
        self.challenge = None
        self.server_challenge = None

    def make_challenge(self, negotiate):
        if not negotiate.startswith(NTLMSSP) or len(negotiate) < 16 or \
                struct.unpack_from('<I', negotiate, 8)[0] != 1:
            raise NtlmError('expected an NTLM NEGOTIATE_MESSAGE')
        client = struct.unpack_from('<I', negotiate, 12)[0]
        # REQUEST_TARGET is always set, as Windows does: python3-ntlm-auth
        # computes its AUTHENTICATE flags as "challenge flags minus OEM",
        # which only works when that bit is there to borrow from.
        flags = (F_UNICODE if client & F_UNICODE else F_OEM) | F_REQUEST_TARGET | F_NTLM | \
            F_ALWAYS_SIGN | F_TARGET_TYPE_SERVER | F_TARGET_INFO | F_VERSION | \
            (client & (F_SIGN | F_SEAL | F_EXTENDED_SESSION_SECURITY | F_128 | F_56 | F_KEY_EXCH))
        encoding = 'utf-16-le' if flags & F_UNICODE else 'latin-1'
        target_name = self.computer.upper().encode(encoding)
        filetime = int((time.time() + 11644473600) * 10000000)

        def av(av_id, value):
            return struct.pack('<HH', av_id, len(value)) + value

        target_info = (av(AV_NB_DOMAIN, self.computer.upper().encode('utf-16-le'))
                       + av(AV_NB_COMPUTER, self.computer.upper().encode('utf-16-le'))
                       + av(AV_DNS_DOMAIN, self.computer.lower().encode('utf-16-le'))
                       + av(AV_DNS_COMPUTER, self.computer.lower().encode('utf-16-le'))
                       + av(AV_TIMESTAMP, struct.pack('<Q', filetime))  # makes clients send a MIC
                       + struct.pack('<HH', AV_EOL, 0))
        self.server_challenge = os.urandom(8)
        header_size = 56
        version = struct.pack('<BBH3xB', 10, 0, 19041, 15)  # Windows 10, NTLM revision 15
        message = (NTLMSSP + struct.pack('<I', 2)
                   + struct.pack('<HHI', len(target_name), len(target_name), header_size)
                   + struct.pack('<I', flags) + self.server_challenge + b'\x00' * 8
                   + struct.pack('<HHI', len(target_info), len(target_info),
                                 header_size + len(target_name))
                   + version + target_name + target_info)
        self.negotiate = negotiate
        self.challenge = message
        return message

    def accept(self, message):
        """Verifies AUTHENTICATE; returns (user, SessionSecurity)."""
        if self.challenge is None:
            raise NtlmError('AUTHENTICATE without a preceding CHALLENGE on this connection')
        challenge, negotiate = self.challenge, self.negotiate
        self.challenge = self.negotiate = None  # one attempt per challenge
        if not message.startswith(NTLMSSP) or len(message) < 64 or \
                struct.unpack_from('<I', message, 8)[0] != 3:
            raise NtlmError('expected an NTLM AUTHENTICATE_MESSAGE')
        nt_response = _ntlm_field(message, 20)
        domain_bytes = _ntlm_field(message, 28)
        user_bytes = _ntlm_field(message, 36)
        encrypted_key = _ntlm_field(message, 52)
        flags = struct.unpack_from('<I', message, 60)[0]
        encoding = 'utf-16-le' if flags & F_UNICODE else 'latin-1'
        user = user_bytes.decode(encoding, 'replace')
        domain = domain_bytes.decode(encoding, 'replace')
        if len(nt_response) <= 24:
            raise NtlmError('NTLMv1 or anonymous logon refused (user %r)' % user)
        if not self.user_matches(user):
            raise NtlmError('unknown user %r' % user)
        # NTOWFv2 with the user and domain as the client sent them: any
        # domain is accepted, the user name's case does not matter.
        response_key = _hmac_md5(self.nt_hash, (user.upper() + domain).encode('utf-16-le'))
        proof, blob = nt_response[:16], nt_response[16:]
        if not hmac.compare_digest(_hmac_md5(response_key, challenge[24:32] + blob), proof):
            raise NtlmError('wrong password for %r' % user)
        session_base_key = _hmac_md5(response_key, proof)
        if flags & F_KEY_EXCH:
            if len(encrypted_key) != 16:
                raise NtlmError('missing EncryptedRandomSessionKey')
            exported_key = ARC4(session_base_key).update(encrypted_key)
        else:
            exported_key = session_base_key
        pairs = _av_pairs(blob[28:]) if len(blob) >= 28 else {}
        av_flags = struct.unpack('<I', pairs[AV_FLAGS])[0] if len(pairs.get(AV_FLAGS, b'')) == 4 else 0
        if av_flags & 0x2:
            if len(message) < 88:
                raise NtlmError('MIC announced but missing')
            mic = message[72:88]
            expected = _hmac_md5(exported_key, negotiate + challenge
                                 + message[:72] + b'\x00' * 16 + message[88:])
            if not hmac.compare_digest(mic, expected):
                raise NtlmError('MIC does not match')
        bindings = pairs.get(AV_CHANNEL_BINDINGS, b'')
        if self.channel_binding_hash and bindings and bindings != b'\x00' * 16:
            # Relaxed hardening: a client that sends channel bindings must
            # send the right ones; one that sends none is let in.
            if bindings != self.channel_binding_hash:
                raise NtlmError('channel bindings do not match the TLS certificate')
        return user, SessionSecurity(flags, exported_key, source='server')

    def user_matches(self, user):
        name = user.split('@', 1)[0] if '@' in user else user
        name = name.rsplit('\\', 1)[-1]
        return bool(name) and name.lower() == self.user.rsplit('\\', 1)[-1].lower()


# --------------------------------------------------------------------------
# HTTP-SPNEGO-session-encrypted (MS-WSMV 2.2.9.1)
# --------------------------------------------------------------------------

BOUNDARY = b'--Encrypted Boundary'
ENCRYPTED_PROTOCOL = 'application/HTTP-SPNEGO-session-encrypted'
ENCRYPTED_CONTENT_TYPE = ('multipart/encrypted;protocol="%s";boundary="Encrypted Boundary"'
                          % ENCRYPTED_PROTOCOL)
_ORIGINAL_LENGTH = re.compile(rb'OriginalContent:\s*type=application/soap\+xml;\s*charset=UTF-8;\s*Length=(\d+)',
                              re.IGNORECASE)
_OCTET_STREAM = re.compile(rb'\t?Content-Type:\s*application/octet-stream\r\n', re.IGNORECASE)


class EncryptionError(Exception):
    pass


def unseal(body, session):
    """The SOAP text of an encrypted request (one sealed body, NTLM signature)."""
    first = BOUNDARY + b'\r\n'
    if not body.startswith(first):
        raise EncryptionError('does not start with the boundary')
    second = body.find(first, len(first))
    if second < 0:
        raise EncryptionError('no second MIME section')
    headers = body[len(first):second]
    if ENCRYPTED_PROTOCOL.encode().lower() not in headers.lower():
        raise EncryptionError('first MIME section is not %s' % ENCRYPTED_PROTOCOL)
    m = _ORIGINAL_LENGTH.search(headers)
    if not m:
        raise EncryptionError('no OriginalContent length')
    length = int(m.group(1))
    pos = second + len(first)
    m = _OCTET_STREAM.match(body, pos)
    if not m:
        raise EncryptionError('second MIME section is not application/octet-stream')
    pos = m.end()
    if len(body) < pos + 4:
        raise EncryptionError('truncated')
    signature_length = struct.unpack_from('<I', body, pos)[0]
    pos += 4
    if signature_length != 16:
        raise EncryptionError('signature length %d, expected 16' % signature_length)
    signature = body[pos:pos + 16]
    sealed = body[pos + 16:pos + 16 + length]
    trailer = body[pos + 16 + length:]
    if len(sealed) != length or trailer not in (BOUNDARY + b'--\r\n', BOUNDARY + b'--'):
        raise EncryptionError('length or closing boundary wrong')
    try:
        return session.unwrap(sealed, signature)
    except Exception as e:  # ntlm_auth raises plain Exception on a bad signature
        raise EncryptionError(str(e))


def seal(soap, session):
    sealed, signature = session.wrap(soap)
    return b''.join([
        BOUNDARY, b'\r\n',
        b'\tContent-Type: ', ENCRYPTED_PROTOCOL.encode(), b'\r\n',
        b'\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=',
        str(len(soap)).encode(), b'\r\n',
        BOUNDARY, b'\r\n',
        b'\tContent-Type: application/octet-stream\r\n',
        struct.pack('<I', len(signature)), signature, sealed,
        BOUNDARY, b'--\r\n'])


# --------------------------------------------------------------------------
# HTTP
# --------------------------------------------------------------------------

MAX_BODY = 16 * 1024 * 1024
STOP = threading.Event()


class WsmanHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'Microsoft-HTTPAPI/2.0'
    sys_version = ''

    def setup(self):
        self.tls_failed = False
        self.session = None  # NTLM SessionSecurity once the connection is authenticated
        self.acceptor = None
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        context = self.server.config.tls_context
        if context is not None:
            self.request.settimeout(10)
            try:
                self.request = context.wrap_socket(self.request, server_side=True)
            except (OSError, ValueError) as e:
                log('TLS handshake failed: %s' % e)
                self.tls_failed = True
            self.request.settimeout(None)
        super().setup()

    def handle(self):
        if not self.tls_failed:
            super().handle()

    def log_message(self, fmt, *args):
        pass

    # -- responses --------------------------------------------------------

    def reply(self, status, reason, body=b'', headers=()):
        # One write for head and body: no Nagle/delayed-ACK stalls.
        lines = ['HTTP/1.1 %d %s' % (status, reason),
                 'Server: ' + self.server_version,
                 'Date: ' + email.utils.formatdate(usegmt=True)]
        lines.extend(headers)
        lines.append('Content-Length: %d' % len(body))
        self.wfile.write(('\r\n'.join(lines) + '\r\n\r\n').encode('latin-1') + body)

    def unauthorized(self, token=None):
        config = self.server.config
        if token is not None:
            headers = ['WWW-Authenticate: Negotiate ' + base64.b64encode(token).decode()]
        else:
            headers = ['WWW-Authenticate: Negotiate', 'WWW-Authenticate: Kerberos']
            if config.basic and config.tls_context is not None:
                headers.append('WWW-Authenticate: Basic realm="WSMAN"')
        self.reply(401, 'Unauthorized', b'', headers)

    def refuse(self, status, reason, text):
        self.reply(status, reason, text.encode() + b'\r\n', ['Content-Type: text/plain; charset=utf-8'])

    def not_found(self):
        self.read_body()
        self.refuse(404, 'Not Found', 'Not found')

    do_GET = do_HEAD = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = not_found

    def read_body(self):
        length = int(self.headers.get('Content-Length', '0') or '0')
        if length < 0 or length > MAX_BODY:
            raise ValueError('body too large')
        return self.rfile.read(length)

    # -- POST /wsman --------------------------------------------------------

    def do_POST(self):
        try:
            body = self.read_body()
        except ValueError as e:
            self.close_connection = True
            self.refuse(413, 'Request Entity Too Large', str(e))
            return
        if self.path.split('?', 1)[0].lower() != self.server.config.path:
            self.refuse(404, 'Not Found', 'Not found')
            return
        config = self.server.config
        authorization = self.headers.get('Authorization', '')
        scheme, _, parameter = authorization.strip().partition(' ')
        scheme = scheme.lower()
        basic_user = None
        if scheme == 'negotiate':
            if not self.negotiate(parameter.strip()):
                return
        elif scheme == 'basic':
            basic_user = self.check_basic(parameter.strip())
            if basic_user is None:
                self.unauthorized()
                return
        elif authorization or self.session is None:
            self.unauthorized()
            return

        content_type = self.headers.get('Content-Type', '')
        encrypted = content_type.lower().startswith('multipart/encrypted')
        if encrypted:
            if self.session is None:
                self.refuse(400, 'Bad Request', 'Encrypted message without an NTLM security context')
                return
            try:
                soap = unseal(body, self.session)
            except EncryptionError as e:
                # The sealing state is now out of step: drop the connection.
                log('encrypted message refused: %s' % e)
                self.close_connection = True
                self.refuse(400, 'Bad Request', 'Cannot decrypt the message: %s' % e)
                return
        elif not body:
            # python3-winrm (and WinRM clients generally) authenticate with an
            # empty POST before the first sealed message.
            self.reply(200, 'OK')
            return
        else:
            soap = body
            if config.tls_context is None:
                self.refuse(400, 'Bad Request',
                            'Unencrypted messages are refused: AllowUnencrypted is false.')
                return

        try:
            status, answer = self.server.service.handle(soap)
        except DropConnection:
            log('dropping the connection instead of answering a Pull')
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        except StallConnection:
            log('stalling a Pull (no answer, connection kept open)')
            STOP.wait()
            return
        except RefuseLogin:
            self.session = None
            self.unauthorized()
            return
        except HostileAnswer as h:
            self.close_connection = True
            head = ('HTTP/1.1 200 OK\r\nContent-Type: %s\r\nTransfer-Encoding: chunked\r\n\r\n'
                    % ENCRYPTED_CONTENT_TYPE)
            chunk = b'%x\r\n%s\r\n' % (65536, b'x' * 65536) if h.mode == 'endless' else b'1\r\nx\r\n'
            try:
                self.wfile.write(head.encode('latin-1'))
                while not STOP.is_set():
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    if h.mode == 'trickle':
                        STOP.wait(1)
            except OSError:
                pass  # the client gave up
            return
        reason = 'OK' if status == 200 else 'Internal Server Error'
        if encrypted:
            self.reply(status, reason, seal(answer, self.session),
                       ['Content-Type: ' + ENCRYPTED_CONTENT_TYPE])
        else:
            self.reply(status, reason, answer, ['Content-Type: application/soap+xml;charset=UTF-8'])

    def negotiate(self, parameter):
        """One NTLM step. Returns True when the connection is authenticated
        and the request should be served."""
        config = self.server.config
        try:
            token = base64.b64decode(parameter, validate=True)
        except (ValueError, TypeError):
            token = b''
        if not token.startswith(NTLMSSP):
            # SPNEGO (or Kerberos) tokens: only raw NTLMSSP is understood here.
            log('Negotiate token is not raw NTLMSSP: refused')
            self.unauthorized()
            return False
        message_type = struct.unpack_from('<I', token, 8)[0] if len(token) >= 12 else 0
        if message_type == 1:
            self.session = None
            self.acceptor = NtlmAcceptor(config.user, config.nt_hash, config.computer,
                                         config.channel_binding_hash)
            try:
                self.unauthorized(self.acceptor.make_challenge(token))
            except NtlmError as e:
                log('NTLM refused: %s' % e)
                self.unauthorized()
            return False
        if message_type == 3 and self.acceptor is not None:
            try:
                user, self.session = self.acceptor.accept(token)
            except NtlmError as e:
                log('NTLM refused: %s' % e)
                self.session = None
                self.unauthorized()
                return False
            log('NTLM: %s authenticated on connection %s%s'
                % (user, self.client_address[1],
                   ' (channel bindings checked)' if config.channel_binding_hash else ''))
            return True
        log('NTLM message %d out of order: refused' % message_type)
        self.unauthorized()
        return False

    def check_basic(self, parameter):
        config = self.server.config
        if not config.basic or config.tls_context is None:
            log('Basic refused (needs --basic and HTTPS)')
            return None
        try:
            user, _, password = base64.b64decode(parameter).decode('utf-8').partition(':')
        except (ValueError, UnicodeDecodeError):
            return None
        if user.rsplit('\\', 1)[-1].lower() != config.user.lower() or \
                not hmac.compare_digest(password.encode(), config.password.encode()):
            log('Basic refused for %r' % user)
            return None
        return user


class WsmanServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


class Config:
    pass


def channel_binding_hash(cert_path):
    """MD5 of the gss_channel_bindings_struct NTLM clients put in
    MsvAvChannelBindings: tls-server-end-point (RFC 5929) of our certificate."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    with open(cert_path, 'rb') as f:
        certificate = x509.load_pem_x509_certificate(f.read())
    der = certificate.public_bytes(serialization.Encoding.DER)
    algorithm = certificate.signature_hash_algorithm
    if algorithm is None or algorithm.name in ('md5', 'sha1'):
        algorithm = hashes.SHA256()
    digest = hashes.Hash(algorithm)
    digest.update(der)
    application_data = b'tls-server-end-point:' + digest.finalize()
    bindings = struct.pack('<IIIII', 0, 0, 0, 0, len(application_data)) + application_data
    return hashlib.md5(bindings).digest()


def parse_class_count(text):
    name, _, count = text.partition('=')
    if not _CLASS_NAME.fullmatch(name) or not count.isdigit():
        raise argparse.ArgumentTypeError('expected CLASS=N, got %r' % text)
    return name, int(count)


def parse_class_hresult(text):
    name, _, code = text.partition('=')
    try:
        value = int(code, 0)
    except ValueError:
        value = -1
    if not _CLASS_NAME.fullmatch(name) or not 0 < value <= 0xFFFFFFFF:
        raise argparse.ArgumentTypeError('expected CLASS=HRESULT (like 0x80041003), got %r' % text)
    return name, value


def watch_stdin():
    # Exit when the parent goes away: its end of our stdin pipe closes.
    try:
        while os.read(0, 65536):
            pass
    except OSError:
        pass
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description='WS-Management test server (see the file header).')
    parser.add_argument('--snapshot', required=True, help='Kestrane snapshot file to serve')
    parser.add_argument('--user', required=True)
    parser.add_argument('--password', required=True)
    parser.add_argument('--port', type=int, default=0, help='TCP port on 127.0.0.1 (0: a free one)')
    parser.add_argument('--https', nargs=2, metavar=('CERT', 'KEY'), help='serve HTTPS')
    parser.add_argument('--basic', action='store_true', help='accept Basic authentication (HTTPS only)')
    parser.add_argument('--generate', action='append', default=[], type=parse_class_count,
                        metavar='CLASS=N', help='add a class of N generated instances')
    parser.add_argument('--drop-after-pulls', type=int, metavar='N',
                        help='close the connection instead of answering Pull number N+1')
    parser.add_argument('--stall-after-pulls', type=int, metavar='N',
                        help='never answer Pull number N+1')
    parser.add_argument('--refuse-after-pulls', type=int, metavar='N',
                        help='answer Pull number N+1 with 401, the login forgotten')
    parser.add_argument('--path', default='/wsman', help='the one path served (others: 404)')
    parser.add_argument('--hostile-after-pulls', nargs=2, metavar=('N', 'MODE'),
                        help='answer Pull number N+1 and later as MODE: endless, trickle or empty')
    parser.add_argument('--fail-class', action='append', default=[], type=parse_class_hresult,
                        metavar='CLASS=HRESULT', help='Enumerate of CLASS fails with this WMI error')
    args = parser.parse_args()

    computer, classes = load_snapshot(args.snapshot)
    for name, count in args.generate:
        classes[name.lower()] = generated_class(name, count)

    config = Config()
    config.user = args.user
    config.password = args.password
    config.nt_hash = hashlib.new('md4', args.password.encode('utf-16-le')).digest()
    config.computer = re.sub(r'[^A-Za-z0-9-]', '', computer)[:15] or 'KESTRANE'
    config.basic = args.basic
    config.path = args.path.lower()
    config.tls_context = None
    config.channel_binding_hash = None
    if args.https:
        import ssl
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.https[0], args.https[1])
        config.tls_context = context
        config.channel_binding_hash = channel_binding_hash(args.https[0])

    server = WsmanServer(('127.0.0.1', args.port), WsmanHandler)
    server.config = config
    trouble = next(((n, e) for n, e in ((args.drop_after_pulls, DropConnection),
                                         (args.stall_after_pulls, StallConnection),
                                         (args.refuse_after_pulls, RefuseLogin)) if n is not None), None)
    server.service = WsmanService(classes, {n.lower(): c for n, c in args.fail_class}, trouble,
                                  (int(args.hostile_after_pulls[0]), args.hostile_after_pulls[1])
                                  if args.hostile_after_pulls else None)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))
    try:
        mode = os.fstat(0).st_mode
        if stat.S_ISFIFO(mode) or stat.S_ISSOCK(mode):
            threading.Thread(target=watch_stdin, daemon=True).start()
    except OSError:
        pass

    port = server.server_address[1]
    log('serving %d classes of %s on %s://127.0.0.1:%d/wsman'
        % (len(classes), args.snapshot, 'https' if args.https else 'http', port))
    sys.stdout.write('PORT %d\n' % port)
    sys.stdout.flush()
    server.serve_forever()


if __name__ == '__main__':
    main()
