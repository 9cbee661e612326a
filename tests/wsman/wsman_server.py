#!/usr/bin/env python3
"""A WS-Management (WinRM) test server that serves the classes of a Kestrane
snapshot the way WinRM serves root\\cimv2: HTTP/1.1 keep-alive, one path
(others 404); NTLMv2 inside Negotiate with sealed messages over HTTP (an
unsealed request is refused); with --kerberos KEYTAB also Kerberos (as
Kerberos or inside Negotiate), mutual and sealed, through python3-gssapi;
HTTPS with --https CERT KEY (plain SOAP, Basic with --basic);
Enumerate/Pull/Release; GetClass in CIM-XML; faults shaped like the ones
Windows sends. --after-pulls N MODE misbehaves from the Pull after N
answered ones on (see main()).

Prints "PORT <n>" when ready; exits on SIGTERM or when its stdin closes.
"""

import os
import sys

import ntlm_python

if __name__ == '__main__':
    if not ntlm_python.use_debian_python('ntlm_auth'):
        sys.exit('wsman_server: python3-ntlm-auth is not installed (apt-get install python3-ntlm-auth)')
    ntlm_python.activate_md4()

# After the OpenSSL set-up above, on purpose.
import argparse, base64, datetime, hashlib, hmac, http.server, json, re  # noqa: E401,E402
import signal, socket, stat, struct, threading, time, uuid  # noqa: E401,E402
import xml.etree.ElementTree as ET  # noqa: E402

from ntlm_auth.rc4 import ARC4  # noqa: E402
from ntlm_auth.session_security import SessionSecurity  # noqa: E402

try:
    import gssapi  # noqa: E402
    from gssapi.raw import IOV, IOVBufferType, unwrap_iov, wrap_iov  # noqa: E402
except ImportError:
    gssapi = None

NS_S = 'http://www.w3.org/2003/05/soap-envelope'
NS_A = 'http://schemas.xmlsoap.org/ws/2004/08/addressing'
NS_W = 'http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd'
NS_N = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration'
NS_F = 'http://schemas.microsoft.com/wbem/wsman/1/wsmanfault'
NS_XSI = 'http://www.w3.org/2001/XMLSchema-instance'
NS_CIM = 'http://schemas.dmtf.org/wbem/wscim/1/common'

ANONYMOUS = NS_A + '/role/anonymous'
WMI_URI = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/'
CIMV2_URI = WMI_URI + 'root/cimv2/'

ACTION_GET = 'http://schemas.xmlsoap.org/ws/2004/09/transfer/Get'
ACTION_WSMAN_FAULT = 'http://schemas.dmtf.org/wbem/wsman/1/wsman/fault'
ACTION_ENUM_FAULT = NS_N + '/fault'

# WMI's texts, with the trailing blank WMI formats them with.
WMI_MESSAGES = {0x80041003: 'Access denied '}
CIM_TYPE_NAMES = {2: 'sint16', 3: 'sint32', 4: 'real32', 5: 'real64', 8: 'string', 11: 'boolean', 16: 'sint8',
                  17: 'uint8', 18: 'uint16', 19: 'uint32', 20: 'sint64', 21: 'uint64', 101: 'datetime',
                  102: 'reference', 103: 'char16'}
INTEGER_TYPES = {2, 3, 16, 17, 18, 19, 20, 21}


def log(message):
    print('wsman_server: %s' % message, file=sys.stderr, flush=True)


# Characters XML 1.0 cannot carry at all (C0 controls other than tab, LF, CR).
_INVALID_XML_CHARS = re.compile('[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]')


def xml_text(value):
    """Escapes text content; CR as a reference so that parsers keep it."""
    text = value.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;').replace('\r', '&#13;')
    return _INVALID_XML_CHARS.sub('\ufffd', text)


def xml_attr(value):
    return xml_text(value).replace('"', '&quot;')



class Property:
    def __init__(self, name, cimtype, array, origin):
        self.name, self.lower, self.cimtype, self.array, self.origin = name, name.lower(), cimtype, array, origin


class WmiClass:
    """Declared properties and a sequence of instances (dicts keyed by
    property name in any letter case)."""

    def __init__(self, name, properties, instances):
        self.name, self.properties, self.instances = name, properties, instances
        # WMI delivers properties in alphabetical order, ignoring case.
        self.sorted_properties = sorted(properties, key=lambda p: p.lower)


class GeneratedInstances:
    """Instances made on demand, so 100 000 of them cost nothing up front."""

    def __init__(self, count):
        self.count = count

    def __len__(self):
        return self.count

    def __getitem__(self, i):
        created = datetime.datetime(2024, 1, 1) + datetime.timedelta(seconds=i)
        return {'ProcessId': i, 'Name': 'process%d.exe' % i, 'WorkingSetSize': str(4294967296 + 4096 * i),
                'CreationDate': created.strftime('%Y%m%d%H%M%S') + '.000000+060'}


def generated_class(name, count):
    return WmiClass(name, [Property('ProcessId', 19, False, 'Win32_Process'),
                           Property('Name', 8, False, 'CIM_ManagedSystemElement'),
                           Property('WorkingSetSize', 21, False, 'CIM_Process'),
                           Property('CreationDate', 101, False, 'CIM_Process')], GeneratedInstances(count))


def load_snapshot(path):
    """The computer's name and the classes of a snapshot."""
    with open(path, encoding='utf-8-sig') as f:
        document = json.load(f)
    classes = {name.lower(): WmiClass(name, [Property(p['name'], int(p['cimtype']), bool(p['array']),
                                                      p.get('origin', '')) for p in body['properties']],
                                      body['instances'])
               for name, body in document['classes'].items()}
    return document.get('computer') or 'KESTRANE', classes



def dmtf_to_xml(text):
    """A DMTF datetime or interval as the cim:Datetime (same wall-clock time
    and offset, Z for 0) or cim:Interval element WinRM sends."""
    micro = text[15:21]
    fraction = ('.' + micro.rstrip('0')) if micro != '000000' else ''
    if text[21] == ':':
        return '<cim:Interval>P%dDT%dH%dM%d%sS</cim:Interval>' % (
            int(text[0:8]), int(text[8:10]), int(text[10:12]), int(text[12:14]), fraction)
    offset = int(text[22:])
    zone = '%s%02d:%02d' % (text[21], offset // 60, offset % 60) if offset else 'Z'
    return '<cim:Datetime>%s-%s-%sT%s:%s:%s%s%s</cim:Datetime>' % (
        text[0:4], text[4:6], text[6:8], text[8:10], text[10:12], text[12:14], fraction, zone)


_KEY = re.compile(r'([A-Za-z_][A-Za-z0-9_]*)="((?:[^"\\]|\\.)*)"(,|$)')


def reference_xml(text):
    """A relative WMI path, Class.Key="value"[,...], as WinRM's endpoint reference."""
    class_name, _, keys = text.partition('.')
    parts = ['<a:Address>%s</a:Address><a:ReferenceParameters><w:ResourceURI>%s%s</w:ResourceURI>'
             % (ANONYMOUS, CIMV2_URI, xml_text(class_name)), '<w:SelectorSet>']
    for key, value, _ in _KEY.findall(keys):
        value = re.sub(r'\\(.)', r'\1', value)
        parts.append('<w:Selector Name="%s">%s</w:Selector>' % (xml_attr(key), xml_text(value)))
    parts.append('</w:SelectorSet></a:ReferenceParameters>')
    return ''.join(parts)


def value_xml(cimtype, value):
    """The content of one property element for one (non-Null) value."""
    if cimtype in INTEGER_TYPES:
        return str(int(value))  # also drops leading zeros of 64-bit decimal strings
    if cimtype in (4, 5):
        return repr(float(value))
    if cimtype == 11:
        return 'true' if value else 'false'
    if cimtype == 101:
        return dmtf_to_xml(value)
    if cimtype == 102:
        return reference_xml(value)
    return xml_text(str(value))


def instance_xml(wmi_class, instance):
    """One instance as WinRM renders it: the class element with p bound to the
    class's resource URI, one element per property in alphabetical order,
    Null as xsi:nil, arrays as repeated elements (an empty array: none)."""
    name = wmi_class.name
    parts = ['<p:%s xmlns:p="%s%s" xmlns:cim="%s" xsi:type="p:%s_Type">' % (name, CIMV2_URI, name, NS_CIM, name)]
    values = {k.lower(): v for k, v in instance.items()}
    for prop in wmi_class.sorted_properties:
        value = values.get(prop.lower)
        tag = 'p:' + prop.name
        if value is None:
            parts.append('<%s xsi:nil="true"/>' % tag)
        else:
            for element in (value if prop.array else [value]):
                parts.append('<%s>%s</%s>' % (tag, value_xml(prop.cimtype, element), tag))
    parts.append('</p:%s>' % name)
    return ''.join(parts)


def class_cimxml(wmi_class):
    """GetClass answer: DSP0201 CIM-XML, properties in declared order."""
    parts = ['<CLASS NAME="%s">' % xml_attr(wmi_class.name)]
    for prop in wmi_class.properties:
        attributes = ' NAME="%s" CLASSORIGIN="%s"' % (xml_attr(prop.name), xml_attr(prop.origin))
        if prop.cimtype == 102 and not prop.array:
            element = 'PROPERTY.REFERENCE'
        else:
            element = 'PROPERTY.ARRAY' if prop.array else 'PROPERTY'
            attributes += ' TYPE="%s"' % CIM_TYPE_NAMES[prop.cimtype]
        parts.append('<%s%s></%s>' % (element, attributes, element))
    parts.append('</CLASS>')
    return ''.join(parts)



class Fault(Exception):
    """A SOAP 1.2 fault as WinRM sends it (HTTP 500): the WinRM number outside
    and, for a fault of the WMI plug-in, WMI's own nested inside."""

    def __init__(self, action, subcode, reason, code, inner=None, sender=True):
        super().__init__(reason)
        self.action, self.subcode, self.reason, self.code, self.inner = action, subcode, reason, code, inner
        self.sender = sender

    def body(self):
        message = xml_text(self.reason)
        if self.inner:
            message = ('<f:ProviderFault provider="WMI Provider" path="%%systemroot%%\\system32\\WsmWmiPl.dll">'
                       '<f:WSManFault Code="%d" Machine="127.0.0.1"><f:Message>%s</f:Message></f:WSManFault>'
                       '</f:ProviderFault>' % (self.inner[0], xml_text(self.inner[1])))
        return ('<s:Fault><s:Code><s:Value>%s</s:Value><s:Subcode><s:Value>%s</s:Value></s:Subcode>'
                '</s:Code><s:Reason><s:Text xml:lang="en-US">%s</s:Text></s:Reason><s:Detail>'
                '<f:WSManFault xmlns:f="%s" Code="%d" Machine="127.0.0.1"><f:Message>%s</f:Message>'
                '</f:WSManFault></s:Detail></s:Fault>'
                % ('s:Sender' if self.sender else 's:Receiver', self.subcode, xml_text(self.reason), NS_F,
                   self.code, message))


class Trouble(Exception):
    """What the server does instead of answering a Pull (the --after-pulls MODE)."""


class Enumeration:
    def __init__(self, wmi_class):
        self.wmi_class, self.position, self.pulls, self.lock = wmi_class, 0, 0, threading.Lock()


_WQL = re.compile(r'^\s*select\s+\*\s+from\s+([A-Za-z_][A-Za-z0-9_]*)\s*$', re.IGNORECASE)


def q(ns, name):
    return '{%s}%s' % (ns, name)


class WsmanService:
    def __init__(self, classes, fail_classes, trouble):
        self.classes, self.fail_classes = classes, fail_classes
        self.trouble = trouble  # (pulls answered, mode) or None
        self.enumerations = {}  # per server, not per connection, as WinRM keeps them
        self.lock = threading.Lock()

    def handle(self, soap):
        """SOAP request bytes -> (HTTP status, SOAP answer bytes)."""
        root = ET.fromstring(soap.decode('utf-8'))
        header, body = root.find(q(NS_S, 'Header')), root.find(q(NS_S, 'Body'))
        relates_to = (header.findtext(q(NS_A, 'MessageID')) or '').strip()
        action = (header.findtext(q(NS_A, 'Action')) or '').strip()
        max_envelope = int(header.findtext(q(NS_W, 'MaxEnvelopeSize')) or 512000)
        status = 200
        try:
            if action == NS_N + '/Enumerate':
                reply = self.enumerate(body[0], max_envelope)
            elif action == NS_N + '/Pull':
                reply = self.pull(body[0], max_envelope)
            elif action == NS_N + '/Release':
                reply = self.lookup(body[0], forget=True) and ''
            elif action == ACTION_GET:
                reply = self.get_class(header)
            else:
                raise Fault(NS_A + '/fault', 'a:ActionNotSupported', 'The WS-Management service does not '
                            'support the action specified in the request. (%s)' % action, 0x80338013)
            action += 'Response'
        except Fault as fault:
            log('fault %s %d: %s' % (fault.subcode, fault.code, fault.reason))
            status, action, reply = 500, fault.action, fault.body()
        return status, ('<s:Envelope xml:lang="en-US" xmlns:s="%s" xmlns:a="%s" xmlns:n="%s" xmlns:w="%s" '
                        'xmlns:xsi="%s"><s:Header><a:Action>%s</a:Action><a:MessageID>uuid:%s</a:MessageID>'
                        '<a:To>%s</a:To><a:RelatesTo>%s</a:RelatesTo></s:Header><s:Body>%s</s:Body></s:Envelope>'
                        % (NS_S, NS_A, NS_N, NS_W, NS_XSI, action, uuid.uuid4(), ANONYMOUS, xml_text(relates_to),
                           reply)).encode('utf-8')

    def enumerate(self, request, max_envelope):
        class_name = _WQL.match(''.join(request.find(q(NS_W, 'Filter')).itertext())).group(1).lower()
        if class_name in self.fail_classes:
            hresult = self.fail_classes[class_name]
            message = WMI_MESSAGES.get(hresult, 'WMI error 0x%08X ' % hresult)
            raise Fault(ACTION_WSMAN_FAULT, 'w:InternalError', message, hresult, (hresult, message))
        if class_name not in self.classes:
            # As captured from Windows: 2150858778 outside and inside; 0x80041010 itself does not appear.
            raise Fault(ACTION_ENUM_FAULT, 'n:CannotProcessFilter', 'The data source could not process the filter. '
                        'The filter might be missing or it might be invalid. Change the filter and try the request '
                        'again.', 0x8033801A, (0x8033801A, 'The specified class does not exist in the given namespace. '))
        enumeration = Enumeration(self.classes[class_name])
        context = 'uuid:%s' % uuid.uuid4()
        items, done = self.take(enumeration, int(request.findtext(q(NS_W, 'MaxElements')) or 1), max_envelope)
        if not done:
            with self.lock:
                self.enumerations[context] = enumeration
        return ('<n:EnumerateResponse><n:EnumerationContext>%s</n:EnumerationContext>%s%s</n:EnumerateResponse>'
                % (context, '<w:Items>%s</w:Items>' % items if items else '', '<w:EndOfSequence/>' if done else ''))

    def lookup(self, request, forget=False):
        context = (request.findtext(q(NS_N, 'EnumerationContext')) or '').strip()
        with self.lock:
            enumeration = self.enumerations.pop(context, None) if forget else self.enumerations.get(context)
        if enumeration is None:
            raise Fault(ACTION_ENUM_FAULT, 'n:InvalidEnumerationContext', 'The WS-Enumeration context in the '
                        'enumeration is not valid. Enumeration may have been completed or canceled. You cannot use '
                        'this enumeration context anymore. Start a new enumeration.', 0x8033801B, sender=False)
        return context, enumeration

    def pull(self, request, max_envelope):
        context, enumeration = self.lookup(request)
        with enumeration.lock:
            trouble = self.trouble and enumeration.pulls >= self.trouble[0]
            if trouble and self.trouble[1] != 'empty':
                raise Trouble(self.trouble[1])
            enumeration.pulls += 1
            items, done = ('', False) if trouble else self.take(
                enumeration, int(request.findtext(q(NS_N, 'MaxElements')) or 1), max_envelope)
        if done:
            with self.lock:
                self.enumerations.pop(context, None)
        return ('<n:PullResponse>%s%s%s</n:PullResponse>'
                % ('' if done else '<n:EnumerationContext>%s</n:EnumerationContext>' % context,
                   '<n:Items>%s</n:Items>' % items if items else '', '<n:EndOfSequence/>' if done else ''))

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

    def get_class(self, header):
        selectors = {s.get('Name', '').lower(): ''.join(s.itertext()).strip()
                     for s in header.iter(q(NS_W, 'Selector'))}
        wmi_class = self.classes.get(selectors.get('classname', '').lower())
        if selectors.get('__cimnamespace', '').lower() != 'root/cimv2' or wmi_class is None:
            raise Fault(ACTION_WSMAN_FAULT, 'w:InvalidSelectors', 'The WS-Management service cannot process the '
                        'request because the request contained invalid selectors for the resource. ',
                        0x8033805B)
        return class_cimxml(wmi_class)



NTLMSSP = b'NTLMSSP\x00'
F_KEY_EXCH = 0x40000000
AV_NB_COMPUTER, AV_NB_DOMAIN, AV_DNS_COMPUTER, AV_DNS_DOMAIN, AV_FLAGS, AV_TIMESTAMP = 1, 2, 3, 4, 6, 7
AV_CHANNEL_BINDINGS = 10


class NtlmError(Exception):
    pass


def _ntlm_field(message, offset):
    length, _, start = struct.unpack_from('<HHI', message, offset)
    return message[start:start + length]


def _av_pairs(data):
    pairs, pos = {}, 0
    while pos + 4 <= len(data):
        av_id, length = struct.unpack_from('<HH', data, pos)
        if av_id == 0:  # MsvAvEOL
            break
        pairs[av_id] = data[pos + 4:pos + 4 + length]
        pos += 4 + length
    return pairs


def _hmac_md5(key, data):
    return hmac.new(key, data, hashlib.md5).digest()


class NtlmAcceptor:
    """One connection's NTLMv2 exchange (MS-NLMP): NEGOTIATE -> CHALLENGE,
    then AUTHENTICATE -> a SessionSecurity (server side) for sealing."""

    def __init__(self, config):
        self.config = config
        self.negotiate = self.challenge = None

    def make_challenge(self, negotiate):
        client = struct.unpack_from('<I', negotiate, 12)[0]
        # UNICODE, NTLM, ALWAYS_SIGN, TARGET_TYPE_SERVER, TARGET_INFO, VERSION
        # and REQUEST_TARGET (as Windows: python3-ntlm-auth takes "challenge
        # flags minus OEM" as its own); SIGN, SEAL, ESS, 128, 56, KEY_EXCH as asked.
        flags = 0x02828205 | (client & 0xE0080030)
        computer = self.config.computer
        target_name = computer.upper().encode('utf-16-le')
        filetime = int((time.time() + 11644473600) * 10000000)

        def av(av_id, value):
            return struct.pack('<HH', av_id, len(value)) + value

        target_info = (av(AV_NB_DOMAIN, target_name) + av(AV_NB_COMPUTER, target_name)
                       + av(AV_DNS_DOMAIN, computer.lower().encode('utf-16-le'))
                       + av(AV_DNS_COMPUTER, computer.lower().encode('utf-16-le'))
                       + av(AV_TIMESTAMP, struct.pack('<Q', filetime))  # makes clients send a MIC
                       + struct.pack('<HH', 0, 0))
        header_size = 56
        version = struct.pack('<BBH3xB', 10, 0, 19041, 15)  # Windows 10, NTLM revision 15
        self.negotiate = negotiate
        self.challenge = (NTLMSSP + struct.pack('<I', 2)
                          + struct.pack('<HHI', len(target_name), len(target_name), header_size)
                          + struct.pack('<I', flags) + os.urandom(8) + b'\x00' * 8
                          + struct.pack('<HHI', len(target_info), len(target_info), header_size + len(target_name))
                          + version + target_name + target_info)
        return self.challenge

    def accept(self, message):
        """Verifies AUTHENTICATE; returns (user, SessionSecurity)."""
        if self.challenge is None:
            raise NtlmError('AUTHENTICATE without a preceding CHALLENGE on this connection')
        challenge, negotiate = self.challenge, self.negotiate
        self.challenge = self.negotiate = None  # one attempt per challenge
        nt_response = _ntlm_field(message, 20)
        domain = _ntlm_field(message, 28).decode('utf-16-le', 'replace')
        user = _ntlm_field(message, 36).decode('utf-16-le', 'replace')
        encrypted_key = _ntlm_field(message, 52)
        flags = struct.unpack_from('<I', message, 60)[0]
        if len(nt_response) <= 24:
            raise NtlmError('NTLMv1 or anonymous logon refused (user %r)' % user)
        if user.rsplit('\\', 1)[-1].lower() != self.config.user.lower():
            raise NtlmError('unknown user %r' % user)
        # NTOWFv2 with the user and domain as the client sent them: any
        # domain is accepted, the user name's case does not matter.
        response_key = _hmac_md5(self.config.nt_hash, (user.upper() + domain).encode('utf-16-le'))
        proof, blob = nt_response[:16], nt_response[16:]
        if not hmac.compare_digest(_hmac_md5(response_key, challenge[24:32] + blob), proof):
            raise NtlmError('wrong password for %r' % user)
        session_base_key = _hmac_md5(response_key, proof)
        exported_key = ARC4(session_base_key).update(encrypted_key) if flags & F_KEY_EXCH else session_base_key
        pairs = _av_pairs(blob[28:])
        if len(pairs.get(AV_FLAGS, b'')) == 4 and struct.unpack('<I', pairs[AV_FLAGS])[0] & 0x2:
            expected = _hmac_md5(exported_key, negotiate + challenge + message[:72] + b'\x00' * 16 + message[88:])
            if not hmac.compare_digest(message[72:88], expected):
                raise NtlmError('MIC does not match')
        bindings = pairs.get(AV_CHANNEL_BINDINGS, b'')
        # Relaxed hardening: a client that sends channel bindings must send
        # the right ones; one that sends none is let in.
        if self.config.channel_binding_hash and bindings.strip(b'\x00') and \
                bindings != self.config.channel_binding_hash:
            raise NtlmError('channel bindings do not match the TLS certificate')
        session = SessionSecurity(flags, exported_key, source='server')
        session.protocol = ENCRYPTED_PROTOCOL
        return user, session



BOUNDARY = b'--Encrypted Boundary'
ENCRYPTED_PROTOCOL = b'application/HTTP-SPNEGO-session-encrypted'
ENCRYPTED_CONTENT_TYPE = 'multipart/encrypted;protocol="%s";boundary="Encrypted Boundary"'
_SEALED = re.compile(rb'--Encrypted Boundary\r\n\tContent-Type: ([^\r]*)\r\n.*?Length=(\d+)\r\n'
                     rb'--Encrypted Boundary\r\n\tContent-Type: application/octet-stream\r\n'
                     rb'(.*)--Encrypted Boundary--\r?\n?$', re.S | re.I)


class KerberosSession:
    """An accepted Kerberos context sealing as Windows does: the token header
    (the checksum rotated into it) apart from the encrypted data."""
    protocol = b'application/HTTP-Kerberos-session-encrypted'

    def __init__(self, context, confidential=True):
        self.context = context
        self.confidential = confidential

    def wrap(self, data):
        iov = IOV(IOVBufferType.header, data, IOVBufferType.padding, std_layout=False)
        wrap_iov(self.context, iov, confidential=self.confidential)
        return iov[1].value + (iov[2].value or b''), iov[0].value

    def unwrap(self, data, header):
        iov = IOV((IOVBufferType.header, False, header), data, std_layout=False)
        if not unwrap_iov(self.context, iov).encrypted:
            raise ValueError('signed but not encrypted')
        return iov[1].value


def unseal(body, session):
    """The SOAP text of an encrypted request (one sealed body: the length of
    the signature or token header, it, the data); ValueError when it is not
    one, names another protocol than the login's, or does not verify."""
    m = _SEALED.match(body)
    size = struct.unpack_from('<I', m.group(3))[0] if m and len(m.group(3)) >= 4 else -1
    if size < 0 or len(m.group(3)) != 4 + size + int(m.group(2)):
        raise ValueError('not one sealed message of the announced length')
    if m.group(1).lower() != session.protocol.lower():
        raise ValueError('sealed as %s' % m.group(1).decode('latin-1'))
    try:
        return session.unwrap(m.group(3)[4 + size:], m.group(3)[4:4 + size])
    except Exception as e:  # ntlm_auth raises plain Exception on a bad signature
        raise ValueError(str(e))


def seal(soap, session):
    sealed, signature = session.wrap(soap)
    return b''.join([
        BOUNDARY, b'\r\n\tContent-Type: ', session.protocol, b'\r\n',
        b'\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=', str(len(soap)).encode(), b'\r\n',
        BOUNDARY, b'\r\n\tContent-Type: application/octet-stream\r\n',
        struct.pack('<I', len(signature)), signature, sealed, BOUNDARY, b'--\r\n'])



class WsmanHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'Microsoft-HTTPAPI/2.0'

    def setup(self):
        self.session = None  # NTLM's SessionSecurity or a KerberosSession once authenticated
        self.acceptor = None
        self.mutual = None  # the Kerberos AP-REP, sent with the next answer
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.server.config.tls_context is not None:
            self.request = self.server.config.tls_context.wrap_socket(self.request, server_side=True)
        super().setup()

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, reason, body=b'', headers=()):
        # One write for head and body: no Nagle/delayed-ACK stalls.
        lines = ['HTTP/1.1 %d %s' % (status, reason), 'Server: ' + self.server_version]
        lines.extend(headers)
        if self.mutual:
            lines.append('WWW-Authenticate: ' + self.mutual)
            self.mutual = None
        lines.append('Content-Length: %d' % len(body))
        self.wfile.write(('\r\n'.join(lines) + '\r\n\r\n').encode('latin-1') + body)

    def unauthorized(self, token=None):
        if token is not None:
            headers = ['WWW-Authenticate: Negotiate ' + base64.b64encode(token).decode()]
        else:
            headers = ['WWW-Authenticate: Negotiate']
            if self.server.config.kerberos:
                headers.append('WWW-Authenticate: Kerberos')
            if self.server.config.basic:
                headers.append('WWW-Authenticate: Basic realm="WSMAN"')
        self.reply(401, 'Unauthorized', b'', headers)

    def refuse(self, status, reason, text):
        self.reply(status, reason, text.encode() + b'\r\n', ['Content-Type: text/plain; charset=utf-8'])

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', '0') or '0'))
        config = self.server.config
        if self.path.split('?', 1)[0].lower() != config.path:
            self.refuse(404, 'Not Found', 'Not found')
            return
        scheme, _, parameter = self.headers.get('Authorization', '').strip().partition(' ')
        scheme = scheme.lower()
        token = base64.b64decode(parameter.strip()) if scheme in ('negotiate', 'kerberos') else b''
        if config.kerberos and token and not token.startswith(NTLMSSP):
            if not self.kerberos(token, scheme.capitalize()):
                return
        elif scheme == 'negotiate':
            if not self.negotiate(token):
                return
        elif scheme == 'basic' and self.basic_matches(parameter.strip()):
            pass
        elif scheme or self.session is None:
            self.unauthorized()
            return

        encrypted = self.headers.get('Content-Type', '').lower().startswith('multipart/encrypted')
        if encrypted:
            try:
                soap = unseal(body, self.session)
            except ValueError as e:
                # The sealing state is now out of step: drop the connection.
                log('encrypted message refused: %s' % e)
                self.close_connection = True
                self.refuse(400, 'Bad Request', 'Cannot decrypt the message: %s' % e)
                return
        elif not body:
            # WinRM clients authenticate with an empty POST before the first
            # sealed message.
            self.reply(200, 'OK')
            return
        elif config.tls_context is None:
            self.refuse(400, 'Bad Request', 'Unencrypted messages are refused: AllowUnencrypted is false.')
            return
        else:
            soap = body

        try:
            status, answer = self.server.service.handle(soap)
        except Trouble as t:
            self.misbehave(str(t))
            return
        reason = 'OK' if status == 200 else 'Internal Server Error'
        if encrypted:
            self.reply(status, reason, seal(answer, self.session),
                       ['Content-Type: ' + ENCRYPTED_CONTENT_TYPE % self.session.protocol.decode()])
        else:
            self.reply(status, reason, answer, ['Content-Type: application/soap+xml;charset=UTF-8'])

    def misbehave(self, mode):
        log('answering a Pull as %s' % mode)
        if mode == 'refuse':  # as a server does whose login has ended
            self.session = None
            self.unauthorized()
            return
        self.close_connection = True
        if mode == 'drop':
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if mode == 'stall':  # no answer, the connection kept open
            threading.Event().wait()
        # A body that never ends, fast or a few bytes a second (never slow
        # enough for a low-speed limit: only the answer's deadline ends it).
        head = 'HTTP/1.1 200 OK\r\nContent-Type: %s\r\nTransfer-Encoding: chunked\r\n\r\n' % (
            ENCRYPTED_CONTENT_TYPE % ENCRYPTED_PROTOCOL.decode())
        chunk = b'%x\r\n%s\r\n' % (65536, b'x' * 65536) if mode == 'endless' else b'1\r\nx\r\n'
        try:
            self.wfile.write(head.encode('latin-1'))
            while True:
                self.wfile.write(chunk)
                self.wfile.flush()
                time.sleep(0.25 if mode == 'trickle' else 0)
        except OSError:
            pass  # the client gave up

    def negotiate(self, token):
        """One NTLM step. Returns True when the connection is authenticated
        and the request should be served."""
        message_type = struct.unpack_from('<I', token, 8)[0] if token.startswith(NTLMSSP) else 0
        if message_type == 1:
            self.session = None
            self.acceptor = NtlmAcceptor(self.server.config)
            self.unauthorized(self.acceptor.make_challenge(token))
            return False
        try:
            if message_type != 3 or self.acceptor is None:
                raise NtlmError('NTLM message %d out of order' % message_type)
            user, self.session = self.acceptor.accept(token)
        except NtlmError as e:
            log('NTLM refused: %s' % e)
            self.session = None
            self.unauthorized()
            return False
        log('NTLM: %s authenticated on connection %s' % (user, self.client_address[1]))
        return True

    def kerberos(self, token, scheme):
        """Accepts a Kerberos AP-REQ with the keytab's keys; the AP-REP
        answers it (mutual authentication). True when authenticated."""
        try:
            context = gssapi.SecurityContext(creds=self.server.config.kerberos, usage='accept')
            answer = context.step(token)
            if not context.complete:
                raise ValueError('the context needs more than one token')
        except (gssapi.exceptions.GSSError, ValueError) as e:
            log('Kerberos refused: %s' % e)
            self.session = None
            self.unauthorized()
            return False
        log('Kerberos: %s authenticated' % context.initiator_name)
        self.session = KerberosSession(context, not self.server.config.sign_only)
        self.mutual = '%s %s' % (scheme, base64.b64encode(answer).decode())
        return True

    def basic_matches(self, parameter):
        config = self.server.config
        user, _, password = base64.b64decode(parameter).decode('utf-8').partition(':')
        return config.basic and user.rsplit('\\', 1)[-1].lower() == config.user.lower() and \
            hmac.compare_digest(password.encode(), config.password.encode())


class WsmanServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


def channel_binding_hash(cert_path):
    """MD5 of the gss_channel_bindings_struct NTLM clients put in
    MsvAvChannelBindings: tls-server-end-point (RFC 5929) of our certificate."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    with open(cert_path, 'rb') as f:
        certificate = x509.load_pem_x509_certificate(f.read())
    algorithm = certificate.signature_hash_algorithm
    if algorithm is None or algorithm.name in ('md5', 'sha1'):
        algorithm = hashes.SHA256()
    digest = hashes.Hash(algorithm)
    digest.update(certificate.public_bytes(serialization.Encoding.DER))
    application_data = b'tls-server-end-point:' + digest.finalize()
    return hashlib.md5(struct.pack('<IIIII', 0, 0, 0, 0, len(application_data)) + application_data).digest()


def class_and(convert):
    return lambda text: (text.partition('=')[0], convert(text.partition('=')[2]))


def watch_stdin():
    # Exit when the parent goes away: its end of our stdin pipe closes.
    try:
        while os.read(0, 65536):
            pass
    finally:
        os._exit(0)


def main():
    parser = argparse.ArgumentParser(description='WS-Management test server (see the file header).')
    add = parser.add_argument
    add('--snapshot', required=True, help='Kestrane snapshot file to serve')
    add('--user', required=True)
    add('--password', required=True)
    add('--port', type=int, default=0, help='TCP port (0: a free one)')
    add('--bind', default='127.0.0.1', help='loopback address to listen on')
    add('--path', default='/wsman', help='the one path served (others: 404)')
    add('--https', nargs=2, metavar=('CERT', 'KEY'), help='serve HTTPS')
    add('--kerberos', metavar='KEYTAB', help='accept Kerberos with the keys of this keytab')
    add('--basic', action='store_true', help='accept Basic authentication (HTTPS only)')
    add('--sign-only', action='store_true', help='answer Kerberos logins signed but not encrypted')
    add('--generate', action='append', default=[], type=class_and(int), metavar='CLASS=N',
        help='add a class of N instances made on demand (process<i>.exe ...)')
    add('--fail-class', action='append', default=[], type=class_and(lambda s: int(s, 0)), metavar='CLASS=HRESULT',
        help='Enumerate of CLASS fails with this WMI error')
    add('--after-pulls', nargs=2, metavar=('N', 'MODE'), help='answer Pull number N+1 and later as MODE: drop '
        '(close the connection), stall (never answer), refuse (401, the login forgotten), endless or trickle (a '
        'body that never ends) or empty (pages without items)')
    args = parser.parse_args()

    computer, classes = load_snapshot(args.snapshot)
    classes.update({name.lower(): generated_class(name, count) for name, count in args.generate})
    config = argparse.Namespace(user=args.user, password=args.password, path=args.path.lower(),
                                nt_hash=hashlib.new('md4', args.password.encode('utf-16-le')).digest(),
                                computer=re.sub(r'[^A-Za-z0-9-]', '', computer)[:15] or 'KESTRANE',
                                basic=args.basic and bool(args.https), tls_context=None, channel_binding_hash=None,
                                kerberos=None, sign_only=args.sign_only)
    if args.kerberos:
        if gssapi is None:
            sys.exit('wsman_server: python3-gssapi is not installed (apt-get install python3-gssapi)')
        config.kerberos = gssapi.Credentials(usage='accept', store={'keytab': args.kerberos})
    if args.https:
        import ssl
        config.tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        config.tls_context.load_cert_chain(*args.https)
        config.channel_binding_hash = channel_binding_hash(args.https[0])

    server = WsmanServer((args.bind, args.port), WsmanHandler)
    server.config = config
    trouble = (int(args.after_pulls[0]), args.after_pulls[1]) if args.after_pulls else None
    server.service = WsmanService(classes, {n.lower(): c for n, c in args.fail_class}, trouble)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))
    if stat.S_ISFIFO(os.fstat(0).st_mode) or stat.S_ISSOCK(os.fstat(0).st_mode):
        threading.Thread(target=watch_stdin, daemon=True).start()
    port = server.server_address[1]
    log('serving %d classes of %s on %s://%s:%d/wsman'
        % (len(classes), args.snapshot, 'https' if args.https else 'http', args.bind, port))
    print('PORT %d' % port, flush=True)
    server.serve_forever()


if __name__ == '__main__':
    main()
