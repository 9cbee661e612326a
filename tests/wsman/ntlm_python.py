"""Set-up shared by the WS-Management test server and its pywinrm test: both
need Debian's python3 packages and MD4, which NTLM hashes passwords with."""

import os
import sys


def use_debian_python(module):
    """Runs the script again under Debian's python3 when the one running it (a
    pyenv or venv earlier in PATH) lacks the module; False when both lack it."""
    import importlib.util
    if importlib.util.find_spec(module) is not None:
        return True
    debian = '/usr/bin/python3'
    if os.path.exists(debian) and os.path.realpath(sys.executable) != os.path.realpath(debian):
        os.execv(debian, [debian] + sys.argv)
    return False


def activate_md4():
    # MD4 is in OpenSSL 3's legacy provider, and OpenSSL reads OPENSSL_CONF
    # once, when first loaded: set it before anything imports hashlib or ssl.
    import shutil
    import tempfile
    if '_hashlib' in sys.modules or 'ssl' in sys.modules:
        raise RuntimeError('OpenSSL was initialised before MD4 could be enabled')
    directory = tempfile.mkdtemp(prefix='wsman-openssl-')
    try:
        path = os.path.join(directory, 'openssl.cnf')
        with open(path, 'w') as f:
            f.write('openssl_conf = openssl_init\n[openssl_init]\nproviders = provider_sect\n'
                    '[provider_sect]\ndefault = default_sect\nlegacy = legacy_sect\n'
                    '[default_sect]\nactivate = 1\n[legacy_sect]\nactivate = 1\n')
        os.environ['OPENSSL_CONF'] = path
        import hashlib
        hashlib.new('md4', b'')
    finally:
        os.environ.pop('OPENSSL_CONF', None)
        shutil.rmtree(directory, ignore_errors=True)
