#!/usr/bin/env python3
"""Validates the WS-Management test server (wsman_server.py) with an
independent client, Debian's python3-winrm: NTLM inside Negotiate, sealed
messages, Enumerate/Pull, GetClass in CIM-XML, faults, HTTPS.

Plain unittest; exit 0 when all pass, 1 otherwise. Without python3-winrm the
tests are skipped (exit 77, which CTest reports as skipped), except under CI
(environment variable CI set), where that is a failure.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, 'wsman_server.py')
SAMPLE = os.path.join(HERE, '..', 'fixtures', 'snapshots', 'sample.json')
PACKAGES = 'python3-winrm python3-ntlm-auth python3-cryptography openssl'


def _use_debian_python():
    # python3-winrm lives in Debian's python3; a python3 earlier in PATH
    # (pyenv, a venv) does not see it.
    import importlib.util
    if importlib.util.find_spec('winrm') is not None:
        return
    debian = '/usr/bin/python3'
    if os.path.exists(debian) and os.path.realpath(sys.executable) != os.path.realpath(debian):
        os.execv(debian, [debian] + sys.argv)
    if os.environ.get('CI'):
        print('FAILED: python3-winrm is missing; CI must have it (apt-get install %s)' % PACKAGES)
        sys.exit(1)
    print('SKIPPED: python3-winrm is missing (apt-get install %s)' % PACKAGES)
    sys.exit(77)


def _activate_md4():
    # python3-ntlm-auth needs MD4, in OpenSSL 3's legacy provider on Debian 12.
    # OpenSSL reads OPENSSL_CONF once, when first loaded: set it before any
    # import that loads hashlib or ssl, then remove the file.
    import shutil
    import tempfile
    directory = tempfile.mkdtemp(prefix='wsman-test-openssl-')
    path = os.path.join(directory, 'openssl.cnf')
    with open(path, 'w') as f:
        f.write('openssl_conf = openssl_init\n[openssl_init]\nproviders = provider_sect\n'
                '[provider_sect]\ndefault = default_sect\nlegacy = legacy_sect\n'
                '[default_sect]\nactivate = 1\n[legacy_sect]\nactivate = 1\n')
    os.environ['OPENSSL_CONF'] = path
    import hashlib
    hashlib.new('md4', b'')
    os.environ.pop('OPENSSL_CONF')
    shutil.rmtree(directory)


if __name__ == '__main__':
    _use_debian_python()
    _activate_md4()
    # requests lets these override pywinrm's server_cert_validation='ignore'
    # (and a proxy must not see loopback traffic).
    for _name in ('REQUESTS_CA_BUNDLE', 'CURL_CA_BUNDLE'):
        os.environ.pop(_name, None)
    os.environ['NO_PROXY'] = os.environ['no_proxy'] = '127.0.0.1,localhost'

import base64  # noqa: E402
import http.client  # noqa: E402
import json  # noqa: E402
import re  # noqa: E402
import select  # noqa: E402
import signal  # noqa: E402
import shutil  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402
import unittest  # noqa: E402
import uuid  # noqa: E402
import xml.etree.ElementTree as ET  # noqa: E402

import requests  # noqa: E402
import requests_ntlm.requests_ntlm  # noqa: E402
import winrm  # noqa: E402
from ntlm_auth.ntlm import NtlmContext  # noqa: E402
from winrm.exceptions import InvalidCredentialsError, WinRMError, WinRMTransportError  # noqa: E402

USER = 'Tester'
PASSWORD = 'Pa55-w0rd!'

NS = {
    's': 'http://www.w3.org/2003/05/soap-envelope',
    'a': 'http://schemas.xmlsoap.org/ws/2004/08/addressing',
    'w': 'http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd',
    'n': 'http://schemas.xmlsoap.org/ws/2004/09/enumeration',
    'f': 'http://schemas.microsoft.com/wbem/wsman/1/wsmanfault',
    'cim': 'http://schemas.dmtf.org/wbem/wscim/1/common',
    'xsi': 'http://www.w3.org/2001/XMLSchema-instance',
}
ENUMERATE = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate'
PULL = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull'
RELEASE = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release'
GET = 'http://schemas.xmlsoap.org/ws/2004/09/transfer/Get'
ALL_CLASSES = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*'
CIMXML = 'http://schemas.dmtf.org/wbem/cim-xml/2/cim-schema/2/*'
WQL = 'http://schemas.microsoft.com/wbem/wsman/1/WQL'
CLASS_URI = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/'


def tag(prefix, name):
    return '{%s}%s' % (NS[prefix], name)


# --------------------------------------------------------------------------
# A snapshot with every value shape
# --------------------------------------------------------------------------

def prop(name, cimtype, array=False, origin='Win32_Shapes'):
    return {'name': name, 'cimtype': cimtype, 'array': array, 'origin': origin}


SHAPES = {
    'format': 'kestrane-snapshot', 'version': 1, 'computer': 'SHAPES', 'captured': '',
    'classes': {
        'Win32_Shapes': {
            # Declared deliberately out of alphabetical order, mixed case.
            'properties': [
                prop('zeta', 8), prop('Alpha', 8, origin='CIM_Shape'), prop('beta', 19),
                prop('NullString', 8), prop('EmptyString', 8), prop('Absent', 8),
                prop('Big', 21), prop('Negative', 20), prop('Tiny', 16), prop('Byte', 17),
                prop('Word', 18), prop('Short', 2), prop('Int', 3),
                prop('Single', 4), prop('Double', 5), prop('Yes', 11), prop('No', 11),
                prop('Western', 101), prop('India', 101), prop('Utc', 101),
                prop('Uptime', 101), prop('Whole', 101),
                prop('Dir', 102), prop('Service', 102), prop('Letter', 103), prop('Blob', 13),
                prop('Numbers', 19, True), prop('EmptyList', 8, True), prop('NullList', 18, True),
                prop('One', 8, True), prop('Refs', 102, True),
            ],
            'instances': [
                {
                    'zeta': 'last', 'alpha': 'a < b & "c" > d', 'BETA': 7,
                    'NullString': None, 'EmptyString': '',
                    'Big': '18446744073709551615', 'Negative': '-9223372036854775808',
                    'Tiny': -128, 'Byte': 255, 'Word': 65535, 'Short': -32768, 'Int': -2147483648,
                    'Single': 1.5, 'Double': -2.25e-10, 'Yes': True, 'No': False,
                    'Western': '20230517094112.000000-420',
                    'India': '20230517094112.123456+330',
                    'Utc': '20230517094112.500000+000',
                    'Uptime': '00000001020304.500000:000',
                    'Whole': '00000012000000.000000:000',
                    'Dir': 'Win32_Directory.Name="C:\\\\Windows"',
                    'Service': '\\\\ORION\\root\\cimv2:Win32_Service.Name="Dh\\"cp",Order=5',
                    'Letter': 'Z', 'Blob': 'instance of X { };',
                    'Numbers': [1, 2, 4294967295], 'EmptyList': [], 'NullList': None,
                    'One': ['only'],
                    'Refs': ['Win32_Directory.Name="C:\\\\"', 'Win32_Directory.Name="D:\\\\"'],
                },
                {'zeta': 'second', 'Big': '007', 'Numbers': [], 'One': None},
            ],
        },
        'Win32_Five': {
            'properties': [prop('Index', 19, origin='Win32_Five')],
            'instances': [{'Index': i} for i in range(5)],
        },
        'Win32_Nothing': {
            'properties': [prop('Name', 8, origin='Win32_Nothing')],
            'instances': [],
        },
    },
}


# --------------------------------------------------------------------------
# Client side: what a WinRM client does with the answers
# --------------------------------------------------------------------------

def envelope(endpoint, action, resource_uri, body, selectors=(), options=(), max_envelope=512000):
    message_id = 'uuid:' + str(uuid.uuid4()).upper()
    selector_xml = ''
    if selectors:
        selector_xml = '<w:SelectorSet>%s</w:SelectorSet>' % ''.join(
            '<w:Selector Name="%s">%s</w:Selector>' % item for item in selectors)
    option_xml = ''
    if options:
        option_xml = '<w:OptionSet>%s</w:OptionSet>' % ''.join(
            '<w:Option Name="%s">%s</w:Option>' % item for item in options)
    xml = ('<?xml version="1.0" encoding="UTF-8"?>'
           '<s:Envelope xmlns:s="{s}" xmlns:a="{a}" xmlns:w="{w}" xmlns:n="{n}"><s:Header>'
           '<a:To>{to}</a:To><w:ResourceURI s:mustUnderstand="true">{uri}</w:ResourceURI>'
           '<a:ReplyTo><a:Address s:mustUnderstand="true">{a}/role/anonymous</a:Address></a:ReplyTo>'
           '<a:Action s:mustUnderstand="true">{action}</a:Action>'
           '<w:MaxEnvelopeSize s:mustUnderstand="true">{max}</w:MaxEnvelopeSize>'
           '<a:MessageID>{id}</a:MessageID><w:Locale xml:lang="en-US" s:mustUnderstand="false"/>'
           '<w:OperationTimeout>PT60S</w:OperationTimeout>{sel}{opt}</s:Header>'
           '<s:Body>{body}</s:Body></s:Envelope>').format(
        to=endpoint, uri=resource_uri, action=action, max=max_envelope, id=message_id,
        sel=selector_xml, opt=option_xml, body=body, **NS)
    return xml, message_id


def enumerate_body(query, max_elements=None, optimize=True):
    parts = ['<n:Enumerate>']
    if optimize:
        parts.append('<w:OptimizeEnumeration/>')
    if max_elements is not None:
        parts.append('<w:MaxElements>%d</w:MaxElements>' % max_elements)
    parts.append('<w:Filter Dialect="%s">%s</w:Filter></n:Enumerate>' % (WQL, query))
    return ''.join(parts)


def pull_body(context, max_elements):
    return ('<n:Pull><n:EnumerationContext>%s</n:EnumerationContext>'
            '<n:MaxElements>%d</n:MaxElements></n:Pull>' % (context, max_elements))


def fault_of(call):
    """Runs call(); returns the parsed SOAP fault envelope it raised."""
    try:
        call()
    except WinRMTransportError as e:
        return e.code, ET.fromstring(e.response_text)
    raise AssertionError('no fault')


class Client:
    """pywinrm's Protocol plus the enumeration loop a WinRM client runs."""

    def __init__(self, endpoint, **options):
        settings = dict(transport='ntlm', username=USER, password=PASSWORD,
                        message_encryption='always', server_cert_validation='ignore')
        settings.update(options)
        self.endpoint = endpoint
        self.protocol = winrm.Protocol(endpoint=endpoint, **settings)

    def send(self, action, resource_uri, body, **kwargs):
        xml, message_id = envelope(self.endpoint, action, resource_uri, body, **kwargs)
        answer = ET.fromstring(self.protocol.send_message(xml))
        self.last_message_id = message_id
        return answer

    def raw(self, action, resource_uri, body, **kwargs):
        """Sends through the transport: faults come back as WinRMTransportError
        with the (decrypted) fault text."""
        xml, _ = envelope(self.endpoint, action, resource_uri, body, **kwargs)
        return self.protocol.transport.send_message(xml)

    def enumerate(self, class_name, max_elements=1, optimize=True, max_envelope=512000):
        """All instance elements of a class, and the number of items per page."""
        answer = self.send(ENUMERATE, ALL_CLASSES,
                           enumerate_body('SELECT * FROM ' + class_name, max_elements, optimize),
                           max_envelope=max_envelope)
        response = answer.find('s:Body/n:EnumerateResponse', NS)
        items = []
        pages = []
        page = response.find('w:Items', NS)
        if optimize:
            pages.append(0 if page is None else len(page))
            items.extend(page if page is not None else [])
        else:
            assert page is None, 'items without OptimizeEnumeration'
        context = response.findtext('n:EnumerationContext', namespaces=NS)
        done = response.find('w:EndOfSequence', NS) is not None
        while not done:
            answer = self.send(PULL, ALL_CLASSES, pull_body(context, max_elements),
                               max_envelope=max_envelope)
            response = answer.find('s:Body/n:PullResponse', NS)
            page = response.find('n:Items', NS)
            pages.append(0 if page is None else len(page))
            items.extend(page if page is not None else [])
            done = response.find('n:EndOfSequence', NS) is not None
            if not done:
                context = response.findtext('n:EnumerationContext', namespaces=NS)
        return items, pages

    def get_class(self, class_name, options=True):
        opts = ()
        if options:
            opts = (('IncludeInheritedElements', 'true'), ('IncludeClassOrigin', 'true'),
                    ('IncludeQualifiers', 'true'))
        answer = self.send(GET, CIMXML, '', options=opts,
                           selectors=(('__cimnamespace', 'root/cimv2'), ('ClassName', class_name)))
        return answer.find('s:Body/CLASS', NS)


def parse_wmi_path(text):
    """(namespace, class, {key: value}) of a WMI object path; independent of
    the server's parser on purpose."""
    m = re.fullmatch(r'(?:\\\\[^\\]+\\(?P<ns>[^:]+):)?(?P<cls>\w+)\.(?P<keys>.*)', text)
    keys = {}
    for key, quoted, bare in re.findall(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|([^,]*))', m.group('keys')):
        keys[key] = re.sub(r'\\(.)', r'\1', quoted) if quoted or not bare else bare
    return (m.group('ns') or 'root\\cimv2').replace('\\', '/'), m.group('cls'), keys


def xs_datetime_to_dmtf(text):
    m = re.fullmatch(r'(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d{1,6}))?(Z|[+-]\d\d:\d\d)', text)
    assert m, text
    fraction = (m.group(7) or '').ljust(6, '0')
    zone = m.group(8)
    if zone == 'Z':
        offset = '+000'
    else:
        offset = '%s%03d' % (zone[0], int(zone[1:3]) * 60 + int(zone[4:6]))
    return '%s%s%s%s%s%s.%s%s' % (m.group(1), m.group(2), m.group(3), m.group(4), m.group(5),
                                  m.group(6), fraction, offset)


def xs_interval_to_dmtf(text):
    m = re.fullmatch(r'P(\d+)DT(\d+)H(\d+)M(\d+)(?:\.(\d{1,6}))?S', text)
    assert m, text
    return '%08d%02d%02d%02d.%s:000' % (int(m.group(1)), int(m.group(2)), int(m.group(3)),
                                        int(m.group(4)), (m.group(5) or '').ljust(6, '0'))


def decode_element(element, cimtype):
    text = element.text or ''
    if cimtype in (20, 21):
        assert re.fullmatch(r'-?(0|[1-9]\d*)', text), text
        return text
    if cimtype in (2, 3, 16, 17, 18, 19):
        return int(text)
    if cimtype in (4, 5):
        return float(text)
    if cimtype == 11:
        return {'true': True, 'false': False}[text]
    if cimtype == 101:
        child = element[0]
        if child.tag == tag('cim', 'Datetime'):
            return xs_datetime_to_dmtf(child.text)
        assert child.tag == tag('cim', 'Interval'), child.tag
        return xs_interval_to_dmtf(child.text)
    if cimtype == 102:
        assert element.findtext('a:Address', namespaces=NS) == NS['a'] + '/role/anonymous'
        uri = element.findtext('a:ReferenceParameters/w:ResourceURI', namespaces=NS)
        assert uri.startswith('http://schemas.microsoft.com/wbem/wsman/1/wmi/'), uri
        namespace, _, class_name = uri[len('http://schemas.microsoft.com/wbem/wsman/1/wmi/'):].rpartition('/')
        keys = {s.get('Name'): s.text or '' for s in
                element.findall('a:ReferenceParameters/w:SelectorSet/w:Selector', NS)}
        return namespace, class_name, keys
    return text


def expected_scalar(value, cimtype):
    if cimtype in (20, 21):
        return str(int(value))
    if cimtype in (2, 3, 16, 17, 18, 19):
        return int(value)
    if cimtype in (4, 5):
        return float(value)
    if cimtype == 102:
        return parse_wmi_path(value)
    return value


def expected_instance(properties, instance):
    values = {k.lower(): v for k, v in instance.items()}
    result = {}
    for p in properties:
        value = values.get(p['name'].lower())
        if value is None:
            result[p['name']] = None
        elif p['array']:
            result[p['name']] = [expected_scalar(v, p['cimtype']) for v in value]
        else:
            result[p['name']] = expected_scalar(value, p['cimtype'])
    return result


def decode_instance(test, element, class_name, properties):
    """The instance back in the snapshot's shapes, checking the wire form."""
    test.assertEqual(element.tag, '{%s%s}%s' % (CLASS_URI, class_name, class_name))
    test.assertEqual(element.get(tag('xsi', 'type')), 'p:%s_Type' % class_name)
    names = [child.tag.split('}')[1] for child in element]
    for child in element:
        test.assertEqual(child.tag.split('}')[0][1:], CLASS_URI + class_name)
    # One run of elements per property, in alphabetical order ignoring case.
    runs = [n for i, n in enumerate(names) if i == 0 or names[i - 1] != n]
    test.assertEqual(runs, sorted(runs, key=str.lower))
    test.assertEqual(len(runs), len(set(runs)))
    declared = {p['name']: p for p in properties}
    test.assertLessEqual(set(runs), set(declared))
    result = {}
    for p in properties:
        elements = [c for c in element if c.tag.split('}')[1] == p['name']]
        nil = [c for c in elements if c.get(tag('xsi', 'nil')) == 'true']
        if nil:
            test.assertEqual(len(elements), 1, p['name'])
            result[p['name']] = None
        elif p['array']:
            result[p['name']] = [decode_element(c, p['cimtype']) for c in elements]
        else:
            test.assertEqual(len(elements), 1, p['name'])
            result[p['name']] = decode_element(elements[0], p['cimtype'])
    return result


# --------------------------------------------------------------------------
# Running the server
# --------------------------------------------------------------------------

class Server:
    def __init__(self, snapshot, *options):
        self.log = tempfile.NamedTemporaryFile(prefix='wsman-server-', suffix='.log', delete=False)
        self.process = subprocess.Popen(
            [sys.executable, SERVER, '--snapshot', snapshot, '--user', USER,
             '--password', PASSWORD] + list(options),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        line = self.process.stdout.readline().decode() if ready else ''
        m = re.fullmatch(r'PORT (\d+)\n', line)
        if not m:
            self.stop()
            raise RuntimeError('server did not start: %r\n%s' % (line, self.log_text()))
        self.port = int(m.group(1))
        scheme = 'https' if '--https' in options else 'http'
        self.endpoint = '%s://127.0.0.1:%d/wsman' % (scheme, self.port)

    def log_text(self):
        with open(self.log.name, encoding='utf-8', errors='replace') as f:
            return f.read()

    def stop(self):
        # Closing stdin is how a parent ends the server.
        self.process.stdin.close()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        finally:
            self.process.stdout.close()
            self.log.close()
            os.unlink(self.log.name)


class ServerTest(unittest.TestCase):
    server_options = ()
    snapshot = SAMPLE

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix='wsman-test-')
        cls.prepare()
        cls.server = Server(cls.snapshot, *cls.server_options)

    @classmethod
    def prepare(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            if client.protocol.transport.session is not None:
                client.protocol.transport.session.close()

    def client(self, **options):
        client = Client(self.server.endpoint, **options)
        self.clients.append(client)
        return client

    def check_round_trip(self, snapshot, max_elements):
        client = self.client()
        for class_name, body in snapshot['classes'].items():
            with self.subTest(class_name=class_name):
                items, _ = client.enumerate(class_name, max_elements)
                got = [decode_instance(self, item, class_name, body['properties']) for item in items]
                want = [expected_instance(body['properties'], i) for i in body['instances']]
                self.assertEqual(got, want)


# --------------------------------------------------------------------------
# The tests
# --------------------------------------------------------------------------

class SampleSnapshot(ServerTest):
    """tests/fixtures/snapshots/sample.json over HTTP with NTLM and sealing."""

    def test_enumerate_and_pull_return_the_snapshot(self):
        with open(SAMPLE, encoding='utf-8') as f:
            snapshot = json.load(f)
        self.check_round_trip(snapshot, max_elements=1)

    def test_every_answer_is_sealed_and_one_handshake_serves_the_connection(self):
        before = self.server.log_text().count('authenticated')
        client = self.client()
        transport = client.protocol.transport
        transport.build_session()  # authenticates and sets up sealing
        seen = []
        original = transport.encryption.parse_encrypted_response

        def record(response):
            seen.append((response.headers.get('Content-Type'), response.content))
            return original(response)
        transport.encryption.parse_encrypted_response = record
        for _ in range(3):
            answer = client.send(ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_Processor', 5))
            relates_to = answer.findtext('s:Header/a:RelatesTo', namespaces=NS)
            self.assertEqual(relates_to, client.last_message_id)
        fault_of(lambda: client.raw(ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Nope_Class')))
        self.assertEqual(len(seen), 4)
        for content_type, content in seen:
            self.assertEqual(content_type, 'multipart/encrypted;protocol="application/HTTP-SPNEGO-'
                                           'session-encrypted";boundary="Encrypted Boundary"')
            self.assertNotIn(b'Envelope', content)
            self.assertTrue(content.startswith(b'--Encrypted Boundary\r\n\tContent-Type: application/'
                                               b'HTTP-SPNEGO-session-encrypted\r\n\tOriginalContent: '
                                               b'type=application/soap+xml;charset=UTF-8;Length='))
            self.assertTrue(content.endswith(b'--Encrypted Boundary--\r\n'))
        self.assertEqual(self.server.log_text().count('authenticated'), before + 1)

    def test_get_class_in_cim_xml(self):
        with open(SAMPLE, encoding='utf-8') as f:
            declared = json.load(f)['classes']['Win32_OperatingSystem']['properties']
        element = self.client().get_class('win32_operatingsystem')
        self.assertEqual(element.get('NAME'), 'Win32_OperatingSystem')
        names = {'PROPERTY': False, 'PROPERTY.ARRAY': True}
        types = {8: 'string', 11: 'boolean', 16: 'sint8', 17: 'uint8', 2: 'sint16', 18: 'uint16',
                 3: 'sint32', 19: 'uint32', 20: 'sint64', 21: 'uint64', 4: 'real32', 5: 'real64',
                 101: 'datetime', 103: 'char16'}
        got = [(p.get('NAME'), p.get('TYPE'), names[p.tag], p.get('CLASSORIGIN'))
               for p in element if p.tag in names]
        want = [(p['name'], types[p['cimtype']], p['array'], p['origin']) for p in declared]
        self.assertEqual(got, want)  # all of them, in declared order
        # Without the options: CIM-XML defaults, the class's own properties only.
        local = self.client().get_class('Win32_OperatingSystem', options=False)
        self.assertEqual([p.get('NAME') for p in local],
                         [p['name'] for p in declared if p['origin'] == 'Win32_OperatingSystem'])
        self.assertIsNone(local[0].get('CLASSORIGIN'))

    def test_missing_class(self):
        client = self.client()
        with self.assertRaises(WinRMError) as caught:
            client.send(ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_NoSuchClass', 10))
        self.assertIn("'wsmanfault_code': '2150858778'", str(caught.exception))
        self.assertIn("'fault_subcode': 'n:CannotProcessFilter'", str(caught.exception))
        status, fault = fault_of(lambda: client.raw(
            ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_NoSuchClass', 10)))
        self.assertEqual(status, 500)
        self.assertEqual(fault.findtext('s:Header/a:Action', namespaces=NS),
                         'http://schemas.xmlsoap.org/ws/2004/09/enumeration/fault')
        provider = fault.find('s:Body/s:Fault/s:Detail/f:WSManFault/f:Message/f:ProviderFault', NS)
        self.assertEqual(provider.get('provider'), 'WMI Provider')
        inner = provider.find('f:WSManFault', NS)
        self.assertEqual(inner.get('Code'), '2150858778')
        self.assertEqual(inner.findtext('f:Message', namespaces=NS),
                         'The specified class does not exist in the given namespace. ')
        # GetClass of a missing class: InvalidSelectors.
        with self.assertRaises(WinRMError) as caught:
            client.get_class('Win32_NoSuchClass')
        self.assertIn("'wsmanfault_code': '2150858843'", str(caught.exception))
        self.assertIn("'fault_subcode': 'w:InvalidSelectors'", str(caught.exception))

    def test_invalid_query_and_unknown_context(self):
        client = self.client()
        _, fault = fault_of(lambda: client.raw(
            ENUMERATE, ALL_CLASSES, enumerate_body('SELECT Name FROM Win32_BIOS', 10)))
        inner = fault.find('.//f:ProviderFault/f:WSManFault', NS)
        self.assertEqual(inner.get('Code'), '2147749911')
        # A context ends with Release; any use after that faults.
        answer = client.send(ENUMERATE, ALL_CLASSES,
                             enumerate_body('select  *  FROM win32_bios', optimize=False))
        response = answer.find('s:Body/n:EnumerateResponse', NS)
        self.assertIsNone(response.find('w:Items', NS))
        context = response.findtext('n:EnumerationContext', namespaces=NS)
        client.send(RELEASE, ALL_CLASSES,
                    '<n:Release><n:EnumerationContext>%s</n:EnumerationContext></n:Release>' % context)
        with self.assertRaises(WinRMError) as caught:
            client.send(PULL, ALL_CLASSES, pull_body(context, 10))
        self.assertIn("'wsmanfault_code': '2150858779'", str(caught.exception))

    def test_wrong_password_is_refused(self):
        with self.assertRaises(InvalidCredentialsError):
            self.client(password='wrong').send(
                ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_BIOS', 10))
        with self.assertRaises(InvalidCredentialsError):
            self.client(username='someone').send(
                ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_BIOS', 10))
        # Any domain is accepted, and the user name's case does not matter.
        self.client(username='WORKGROUP\\' + USER.upper()).send(
            ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_BIOS', 10))

    def test_unencrypted_soap_is_refused(self):
        body = enumerate_body('SELECT * FROM Win32_BIOS', 10)
        # Sent unsealed with the authentication itself.
        with self.assertRaises(WinRMTransportError) as caught:
            self.client(message_encryption='never').send(ENUMERATE, ALL_CLASSES, body)
        self.assertEqual(caught.exception.code, 400)
        # Sent unsealed on a connection that is already authenticated.
        client = self.client()
        client.protocol.transport.build_session()
        xml, _ = envelope(client.endpoint, ENUMERATE, ALL_CLASSES, body)
        response = client.protocol.transport.session.post(
            client.endpoint, data=xml.encode(),
            headers={'Content-Type': 'application/soap+xml;charset=UTF-8'})
        self.assertEqual(response.status_code, 400)
        self.assertIn(b'Unencrypted', response.content)
        # The sealed conversation goes on.
        items, _ = client.enumerate('Win32_BIOS', 10)
        self.assertEqual(len(items), 1)

    def test_xml_with_a_dtd_is_refused(self):
        client = self.client()
        xml, _ = envelope(client.endpoint, ENUMERATE, ALL_CLASSES,
                          enumerate_body('SELECT * FROM Win32_BIOS &x;', 10))
        xml = xml.replace('?>', '?><!DOCTYPE s:Envelope [<!ENTITY x "Win32_BIOS">]>', 1)
        try:
            client.protocol.transport.send_message(xml)
            self.fail('accepted')
        except WinRMTransportError as e:
            self.assertEqual(e.code, 500)
            self.assertIn(b'SchemaValidationError', e.response_text)

    def test_http_before_authentication(self):
        connection = http.client.HTTPConnection('127.0.0.1', self.server.port, timeout=10)
        connection.request('POST', '/wsman', body=b'<x/>',
                           headers={'Content-Type': 'application/soap+xml;charset=UTF-8'})
        response = connection.getresponse()
        response.read()
        self.assertEqual(response.status, 401)
        self.assertEqual([v for k, v in response.getheaders() if k.lower() == 'www-authenticate'],
                         ['Negotiate', 'Kerberos'])
        for method, path in (('POST', '/other'), ('GET', '/wsman')):
            connection.request(method, path)  # same connection: keep-alive
            response = connection.getresponse()
            response.read()
            self.assertEqual(response.status, 404, (method, path))
        connection.close()

    def test_ntlm_message_integrity_code_is_checked(self):
        def authenticate(tamper):
            context = NtlmContext(USER, PASSWORD, domain='')
            connection = http.client.HTTPConnection('127.0.0.1', self.server.port, timeout=10)

            def post(token):
                connection.request('POST', '/wsman', body=b'', headers={
                    'Authorization': 'Negotiate ' + base64.b64encode(token).decode()})
                response = connection.getresponse()
                response.read()
                return response
            response = post(context.step())
            self.assertEqual(response.status, 401)
            scheme, _, challenge = response.getheader('WWW-Authenticate').partition(' ')
            self.assertEqual(scheme, 'Negotiate')
            message = bytearray(context.step(base64.b64decode(challenge)))
            if tamper:
                message[80] ^= 1  # inside the MIC (offset 72, 16 bytes)
            status = post(bytes(message)).status
            connection.close()
            return status
        self.assertEqual(authenticate(tamper=False), 200)
        self.assertEqual(authenticate(tamper=True), 401)

    def test_envelope_size_limits_pages(self):
        # Like WinRM, fewer items than MaxElements when they would not fit in
        # MaxEnvelopeSize; never none.
        items, pages = self.client().enumerate('Win32_Processor', 10, max_envelope=4097)
        self.assertEqual(pages, [1, 1])


class ValueShapes(ServerTest):
    """A hand-made snapshot with every value shape."""

    @classmethod
    def prepare(cls):
        cls.snapshot = os.path.join(cls.tmp, 'shapes.json')
        with open(cls.snapshot, 'w', encoding='utf-8') as f:
            json.dump(SHAPES, f)

    def test_round_trip(self):
        self.check_round_trip(SHAPES, max_elements=2)

    def test_wire_form(self):
        client = self.client()
        xml, _ = envelope(client.endpoint, ENUMERATE, ALL_CLASSES,
                          enumerate_body('SELECT * FROM WIN32_SHAPES', 1))
        text = client.protocol.send_message(xml).decode('utf-8')
        first = text[text.index('<p:Win32_Shapes '):text.index('</p:Win32_Shapes>')]
        self.assertTrue(first.startswith(
            '<p:Win32_Shapes xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/'
            'Win32_Shapes" xmlns:cim="http://schemas.dmtf.org/wbem/wscim/1/common" '
            'xsi:type="p:Win32_Shapes_Type"><p:Absent xsi:nil="true"/><p:Alpha>a &lt; b &amp; "c" '
            '&gt; d</p:Alpha><p:beta>7</p:beta><p:Big>18446744073709551615</p:Big>'))
        for piece in [
            '<p:NullString xsi:nil="true"/>',
            '<p:EmptyString></p:EmptyString>',
            '<p:Negative>-9223372036854775808</p:Negative>',
            '<p:Single>1.5</p:Single>', '<p:Double>-2.25e-10</p:Double>',
            '<p:Yes>true</p:Yes>', '<p:No>false</p:No>', '<p:Letter>Z</p:Letter>',
            '<p:Western><cim:Datetime>2023-05-17T09:41:12-07:00</cim:Datetime></p:Western>',
            '<p:India><cim:Datetime>2023-05-17T09:41:12.123456+05:30</cim:Datetime></p:India>',
            '<p:Utc><cim:Datetime>2023-05-17T09:41:12.5Z</cim:Datetime></p:Utc>',
            '<p:Uptime><cim:Interval>P1DT2H3M4.5S</cim:Interval></p:Uptime>',
            '<p:Whole><cim:Interval>P12DT0H0M0S</cim:Interval></p:Whole>',
            '<p:Dir><a:Address>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous'
            '</a:Address><a:ReferenceParameters><w:ResourceURI>http://schemas.microsoft.com/wbem/'
            'wsman/1/wmi/root/cimv2/Win32_Directory</w:ResourceURI><w:SelectorSet><w:Selector '
            'Name="Name">C:\\Windows</w:Selector></w:SelectorSet></a:ReferenceParameters></p:Dir>',
            '<w:Selector Name="Name">Dh"cp</w:Selector><w:Selector Name="Order">5</w:Selector>',
            '<p:Numbers>1</p:Numbers><p:Numbers>2</p:Numbers><p:Numbers>4294967295</p:Numbers>'
            '<p:One>only</p:One>',
            '<p:NullList xsi:nil="true"/>',
        ]:
            self.assertIn(piece, first)
        self.assertNotIn('EmptyList', first)  # an empty array: no element at all
        self.assertNotIn('__', first)
        second = text[text.index('</p:Win32_Shapes>'):]
        self.assertNotIn('<p:Win32_Shapes ', second)  # MaxElements 1

    def test_pages(self):
        client = self.client()
        items, pages = client.enumerate('Win32_Five', 2)
        self.assertEqual(pages, [2, 2, 1])
        self.assertEqual([int(i[0].text) for i in items], [0, 1, 2, 3, 4])
        items, pages = client.enumerate('Win32_Five', 5)
        self.assertEqual(pages, [5])
        items, pages = client.enumerate('Win32_Five', 3, optimize=False)
        self.assertEqual(pages, [3, 2])
        items, pages = client.enumerate('Win32_Nothing', 3)
        self.assertEqual((items, pages), ([], [0]))

    def test_get_class(self):
        element = self.client().get_class('Win32_Shapes')
        properties = [p for p in element if p.tag.startswith('PROPERTY')]
        self.assertEqual([p.get('NAME') for p in properties],
                         [p['name'] for p in SHAPES['classes']['Win32_Shapes']['properties']])
        by_name = {p.get('NAME'): p for p in properties}
        self.assertEqual((by_name['Uptime'].tag, by_name['Uptime'].get('TYPE')), ('PROPERTY', 'datetime'))
        self.assertEqual((by_name['Letter'].tag, by_name['Letter'].get('TYPE')), ('PROPERTY', 'char16'))
        self.assertEqual((by_name['NullList'].tag, by_name['NullList'].get('TYPE')),
                         ('PROPERTY.ARRAY', 'uint16'))
        self.assertEqual((by_name['Dir'].tag, by_name['Dir'].get('REFERENCECLASS')),
                         ('PROPERTY.REFERENCE', 'Win32_Directory'))
        self.assertEqual((by_name['Alpha'].get('CLASSORIGIN'), by_name['Alpha'].get('PROPAGATED')),
                         ('CIM_Shape', 'true'))
        self.assertEqual(by_name['Blob'].get('EmbeddedObject'), 'object')
        self.assertEqual(by_name['Int'].findtext('QUALIFIER[@NAME="CIMTYPE"]/VALUE'), 'sint32')


class Https(ServerTest):
    """HTTPS with a throwaway certificate: NTLM with channel bindings, Basic."""

    @classmethod
    def prepare(cls):
        subprocess.run(['sh', os.path.join(HERE, 'make_cert.sh'), cls.tmp], check=True)
        cls.server_options = ('--https', os.path.join(cls.tmp, 'cert.pem'),
                              os.path.join(cls.tmp, 'key.pem'), '--basic')

    def test_ntlm_over_https(self):
        client = self.client(message_encryption='auto')  # no sealing over HTTPS
        items, _ = client.enumerate('Win32_LogicalDisk', 10)
        self.assertEqual(len(items), 2)

    def test_wrong_channel_bindings_are_refused(self):
        original = requests_ntlm.requests_ntlm._get_certificate_hash
        requests_ntlm.requests_ntlm._get_certificate_hash = lambda der: '00' * 32
        try:
            with self.assertRaises(InvalidCredentialsError):
                self.client(message_encryption='auto').enumerate('Win32_BIOS', 10)
        finally:
            requests_ntlm.requests_ntlm._get_certificate_hash = original
        self.assertIn('channel bindings do not match', self.server.log_text())

    def test_basic_over_https(self):
        client = self.client(transport='basic', message_encryption='never')
        items, _ = client.enumerate('Win32_BIOS', 10)
        self.assertEqual(len(items), 1)
        with self.assertRaises(InvalidCredentialsError):
            self.client(transport='basic', message_encryption='never',
                        password='wrong').enumerate('Win32_BIOS', 10)


class TestHooks(ServerTest):
    """--basic over HTTP, --allow-unencrypted, --fail-class, --drop-after-pulls."""

    server_options = ('--basic', '--allow-unencrypted', '--fail-class', 'Win32_BIOS=0x80041003',
                      '--generate', 'Win32_Process=20', '--drop-after-pulls', '1')

    def test_basic_is_refused_over_http(self):
        with self.assertRaises(InvalidCredentialsError):
            self.client(transport='basic', message_encryption='never').enumerate('Win32_Process', 100)

    def test_allow_unencrypted(self):
        items, _ = self.client(message_encryption='never').enumerate('Win32_Process', 100)
        self.assertEqual(len(items), 20)

    def test_fail_class(self):
        client = self.client()
        _, fault = fault_of(lambda: client.raw(
            ENUMERATE, ALL_CLASSES, enumerate_body('SELECT * FROM Win32_BIOS', 10)))
        inner = fault.find('.//f:ProviderFault/f:WSManFault', NS)
        self.assertEqual(inner.get('Code'), '2147749891')
        self.assertEqual(inner.findtext('f:Message', namespaces=NS).strip(), 'Access denied')

    def test_drop_after_pulls(self):
        client = self.client()
        items, pages = client.enumerate('Win32_Process', 10)  # Enumerate + one Pull
        self.assertEqual(pages, [10, 10])
        with self.assertRaises(requests.exceptions.ConnectionError):
            client.enumerate('Win32_Process', 5)  # Enumerate, Pull, then the dropped Pull


    def test_exits_on_sigterm(self):
        server = Server(SAMPLE)
        server.process.send_signal(signal.SIGTERM)
        self.assertEqual(server.process.wait(10), 0)
        server.stop()


class Stall(ServerTest):
    server_options = ('--generate', 'Win32_Process=20', '--stall-after-pulls', '0')

    def test_stall_after_pulls(self):
        client = self.client(read_timeout_sec=2, operation_timeout_sec=1)
        start = time.monotonic()
        with self.assertRaises(requests.exceptions.ReadTimeout):
            client.enumerate('Win32_Process', 5)
        self.assertLess(time.monotonic() - start, 10)


class Generated(ServerTest):
    """100 000 generated instances streamed in pages, sealed."""

    server_options = ('--generate', 'Win32_Process=100000')

    def test_generated_instances_stream(self):
        start = time.monotonic()
        items, pages = self.client().enumerate('Win32_Process', 1000)
        elapsed = time.monotonic() - start
        self.assertEqual(len(items), 100000)
        self.assertEqual(pages, [1000] * 100)
        last = {c.tag.split('}')[1]: c for c in items[-1]}
        self.assertEqual(last['Name'].text, 'process99999.exe')
        self.assertEqual(last['ProcessId'].text, '99999')
        self.assertEqual(last['WorkingSetSize'].text, str(4294967296 + 4096 * 99999))
        self.assertEqual(xs_datetime_to_dmtf(last['CreationDate'][0].text), '20240102034639.000000+060')
        self.assertEqual([int(i.find('{%sWin32_Process}ProcessId' % CLASS_URI).text) for i in items],
                         list(range(100000)))
        sys.stderr.write('(100 000 instances in %.1f s) ' % elapsed)


if __name__ == '__main__':
    unittest.main(verbosity=2)
