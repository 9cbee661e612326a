#!/usr/bin/env python3
"""Confirms with an independent client, Debian's python3-winrm, the protocol
facts the WS-Management test server (wsman_server.py) must get right for the
C++ client's tests to mean anything: NTLM inside Negotiate with sealed
messages, the NTLM integrity check, channel bindings and Basic over HTTPS.
Without python3-winrm: exit 77 (skipped), or 1 under CI.
"""

import os
import sys

import ntlm_python

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, 'wsman_server.py')
SAMPLE = os.path.join(HERE, '..', 'fixtures', 'snapshots', 'sample.json')
PACKAGES = 'python3-winrm python3-ntlm-auth python3-cryptography openssl'


if __name__ == '__main__':
    if not ntlm_python.use_debian_python('winrm'):
        if os.environ.get('CI'):
            print('FAILED: python3-winrm is missing; CI must have it (apt-get install %s)' % PACKAGES)
            sys.exit(1)
        print('SKIPPED: python3-winrm is missing (apt-get install %s)' % PACKAGES)
        sys.exit(77)
    ntlm_python.activate_md4()
    # requests lets these override pywinrm's server_cert_validation='ignore'
    # (and a proxy must not see loopback traffic).
    for _name in ('REQUESTS_CA_BUNDLE', 'CURL_CA_BUNDLE'):
        os.environ.pop(_name, None)
    os.environ['NO_PROXY'] = os.environ['no_proxy'] = '127.0.0.1,localhost'

import re, select, shutil, subprocess, tempfile, unittest, uuid  # noqa: E401,E402
import xml.etree.ElementTree as ET  # noqa: E402

import requests_ntlm.requests_ntlm  # noqa: E402
import winrm  # noqa: E402
from ntlm_auth.messages import AuthenticateMessage  # noqa: E402
from winrm.exceptions import InvalidCredentialsError  # noqa: E402

USER = 'Tester'
PASSWORD = 'Pa55-w0rd!'
NS = {'s': 'http://www.w3.org/2003/05/soap-envelope',
      'a': 'http://schemas.xmlsoap.org/ws/2004/08/addressing',
      'w': 'http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd',
      'n': 'http://schemas.xmlsoap.org/ws/2004/09/enumeration'}
ENUMERATE = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate'
ALL_CLASSES = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*'
WQL = 'http://schemas.microsoft.com/wbem/wsman/1/WQL'


def enumerate_envelope(endpoint, class_name):
    """An optimized Enumerate that asks for all items at once."""
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<s:Envelope xmlns:s="{s}" xmlns:a="{a}" xmlns:w="{w}" xmlns:n="{n}"><s:Header>'
            '<a:To>{to}</a:To><w:ResourceURI s:mustUnderstand="true">{uri}</w:ResourceURI>'
            '<a:ReplyTo><a:Address s:mustUnderstand="true">{a}/role/anonymous</a:Address></a:ReplyTo>'
            '<a:Action s:mustUnderstand="true">{action}</a:Action>'
            '<w:MaxEnvelopeSize s:mustUnderstand="true">512000</w:MaxEnvelopeSize>'
            '<a:MessageID>uuid:{id}</a:MessageID><w:OperationTimeout>PT60S</w:OperationTimeout>'
            '</s:Header><s:Body><n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>100</w:MaxElements>'
            '<w:Filter Dialect="{wql}">SELECT * FROM {cls}</w:Filter></n:Enumerate></s:Body></s:Envelope>'
            ).format(to=endpoint, uri=ALL_CLASSES, action=ENUMERATE, id=uuid.uuid4(), wql=WQL,
                     cls=class_name, **NS)


class ServerTest(unittest.TestCase):
    server_options = ()

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix='wsman-test-')
        cls.prepare()
        cls.log = os.path.join(cls.tmp, 'server.log')
        with open(cls.log, 'w') as log:
            cls.process = subprocess.Popen([sys.executable, SERVER, '--snapshot', SAMPLE, '--user', USER, '--password',
                                            PASSWORD] + list(cls.server_options),
                                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
        ready, _, _ = select.select([cls.process.stdout], [], [], 30)
        m = re.fullmatch(r'PORT (\d+)\n', cls.process.stdout.readline().decode() if ready else '')
        if not m:
            with open(cls.log) as log:
                why = log.read()
            cls.tearDownClass()
            raise RuntimeError('server did not start:\n' + why)
        cls.port = int(m.group(1))
        cls.endpoint = '%s://127.0.0.1:%d/wsman' % ('https' if '--https' in cls.server_options else 'http', cls.port)

    @classmethod
    def prepare(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        cls.process.stdin.close()  # how a parent ends the server
        cls.process.wait(10)
        cls.process.stdout.close()
        shutil.rmtree(cls.tmp)

    def items(self, class_name, **options):
        """The instances of a class as pywinrm receives them."""
        settings = dict(transport='ntlm', username=USER, password=PASSWORD,
                        message_encryption='always', server_cert_validation='ignore')
        settings.update(options)
        protocol = winrm.Protocol(endpoint=self.endpoint, **settings)
        try:
            answer = ET.fromstring(protocol.send_message(enumerate_envelope(self.endpoint, class_name)))
        finally:
            if protocol.transport.session is not None:
                protocol.transport.session.close()
        self.assertIsNotNone(answer.find('s:Body/n:EnumerateResponse/w:EndOfSequence', NS))
        return list(answer.find('s:Body/n:EnumerateResponse/w:Items', NS))


class Http(ServerTest):
    def test_ntlm_in_negotiate_with_sealed_messages(self):
        seen = []
        original = winrm.encryption.Encryption.parse_encrypted_response

        def record(encryption, response):
            seen.append(response.headers.get('Content-Type'))
            return original(encryption, response)
        winrm.encryption.Encryption.parse_encrypted_response = record
        try:
            self.assertEqual(len(self.items('Win32_LogicalDisk')), 2)
        finally:
            winrm.encryption.Encryption.parse_encrypted_response = original
        self.assertEqual(seen, ['multipart/encrypted;protocol="application/HTTP-SPNEGO-session-encrypted";'
                                'boundary="Encrypted Boundary"'])
        with self.assertRaises(InvalidCredentialsError):
            self.items('Win32_BIOS', password='wrong')

    def test_ntlm_message_integrity_code_is_checked(self):
        original = AuthenticateMessage.add_mic

        def tampered(message, *args):
            original(message, *args)
            message.mic = bytes([message.mic[0] ^ 1]) + message.mic[1:]
        AuthenticateMessage.add_mic = tampered
        try:
            with self.assertRaises(InvalidCredentialsError):
                self.items('Win32_BIOS')
        finally:
            AuthenticateMessage.add_mic = original


class Https(ServerTest):
    @classmethod
    def prepare(cls):
        subprocess.run(['sh', os.path.join(HERE, 'make_cert.sh'), cls.tmp], check=True)
        cls.server_options = ('--https', os.path.join(cls.tmp, 'cert.pem'),
                              os.path.join(cls.tmp, 'key.pem'), '--basic')

    def test_ntlm_with_channel_bindings(self):
        self.assertEqual(len(self.items('Win32_BIOS', message_encryption='auto')), 1)
        original = requests_ntlm.requests_ntlm._get_certificate_hash
        requests_ntlm.requests_ntlm._get_certificate_hash = lambda der: '00' * 32
        try:
            with self.assertRaises(InvalidCredentialsError):
                self.items('Win32_BIOS', message_encryption='auto')
        finally:
            requests_ntlm.requests_ntlm._get_certificate_hash = original
        with open(self.log) as log:
            self.assertIn('channel bindings do not match', log.read())

    def test_basic(self):
        self.assertEqual(len(self.items('Win32_BIOS', transport='basic', message_encryption='never')), 1)
        with self.assertRaises(InvalidCredentialsError):
            self.items('Win32_BIOS', transport='basic', message_encryption='never', password='wrong')


if __name__ == '__main__':
    unittest.main(verbosity=2)
