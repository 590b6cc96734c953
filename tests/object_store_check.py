#!/usr/bin/python3
"""Proves the test object store (object_store.py) against two reference
clients: what curl's --aws-sigv4 and botocore (the library under the AWS
tools) sign, it takes; what they sign with another secret or token, or
what was changed after signing, it refuses with S3's own error codes.
Exits 77 (skipped) where curl or botocore is not installed."""

import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

try:
    import botocore.auth
    import botocore.awsrequest
    import botocore.config
    import botocore.credentials
    import botocore.exceptions
    import botocore.session
    from botocore import UNSIGNED
except ImportError:
    print("botocore is needed: apt-get install python3-botocore")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
EMPTY_HASH = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, wanted {wanted!r}")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def curl(url, *options):
    done = subprocess.run(["curl", "-s", "-w", "%{http_code}", "-o", "-", *options, url],
                          capture_output=True)
    return done.stdout[-3:].decode(), done.stdout[:-3]


def client(endpoint, key="AKIDTEST", secret="secret/key+1", token=None, config=None):
    session = botocore.session.get_session()
    return session.create_client("s3", region_name="eu-west-3", endpoint_url=endpoint,
                                 aws_access_key_id=key, aws_secret_access_key=secret,
                                 aws_session_token=token, config=config)


def error_code(call):
    try:
        call()
    except botocore.exceptions.ClientError as error:
        return error.response["Error"]["Code"]
    return "none"


def main():
    if subprocess.run(["sh", "-c", "command -v curl"], capture_output=True).returncode != 0:
        print("curl is needed")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(f"{root}/media/clips")
        os.makedirs(f"{root}/open")
        clip = bytes(range(256)) * 400
        for path in ("media/clips/a b.yuv", "open/a.yuv"):
            with open(f"{root}/{path}", "wb") as out:
                out.write(clip)
        port = free_port()
        store = subprocess.Popen([sys.executable, f"{HERE}/object_store.py", str(port), root,
                                  f"{root}/log", "--region", "eu-west-3",
                                  "--key", "AKIDTEST:secret/key+1",
                                  "--key", "ASIATEMP:temp-secret:the-token", "--public", "open"])
        try:
            for _ in range(100):
                try:
                    socket.create_connection(("127.0.0.1", port), 1).close()
                    break
                except OSError:
                    time.sleep(0.1)
            check_all(f"http://127.0.0.1:{port}", clip)
        finally:
            store.kill()
    for failure in failures:
        print("FAILED:", failure)
    print(f"{'failed' if failures else 'passed'}: the store against curl and botocore")
    sys.exit(1 if failures else 0)


def check_all(endpoint, clip):
    url = f"{endpoint}/media/clips/a%20b.yuv"
    signed = ["--aws-sigv4", "aws:amz:eu-west-3:s3", "-H", f"x-amz-content-sha256: {EMPTY_HASH}"]
    check("curl, signed range", curl(url, *signed, "--user", "AKIDTEST:secret/key+1",
                                     "-r", "100-199"), ("206", clip[100:200]))
    check("curl, wrong secret", curl(url, *signed, "--user", "AKIDTEST:wrong")[0], "403")
    check("curl, unsigned", curl(url)[0], "403")
    check("curl, public bucket", curl(f"{endpoint}/open/a.yuv", "-r", "0-9"),
          ("206", clip[:10]))

    good = client(endpoint)
    got = good.get_object(Bucket="media", Key="clips/a b.yuv", Range="bytes=1000-1999")
    check("botocore, range", got["Body"].read(), clip[1000:2000])
    check("botocore, head", good.head_object(Bucket="media", Key="clips/a b.yuv")["ContentLength"],
          len(clip))
    check("botocore, If-Match of another version",
          error_code(lambda: good.get_object(Bucket="media", Key="clips/a b.yuv",
                                             IfMatch='"0123"')), "PreconditionFailed")
    check("botocore, no such key",
          error_code(lambda: good.get_object(Bucket="media", Key="nothing")), "NoSuchKey")
    check("botocore, wrong secret",
          error_code(lambda: client(endpoint, secret="wrong").get_object(
              Bucket="media", Key="clips/a b.yuv")), "SignatureDoesNotMatch")
    check("botocore, unknown key",
          error_code(lambda: client(endpoint, key="AKIDOTHER").get_object(
              Bucket="media", Key="clips/a b.yuv")), "InvalidAccessKeyId")
    temp = client(endpoint, key="ASIATEMP", secret="temp-secret", token="the-token")
    check("botocore, session token",
          temp.get_object(Bucket="media", Key="clips/a b.yuv")["Body"].read(), clip)
    check("botocore, session token missing",
          error_code(lambda: client(endpoint, key="ASIATEMP", secret="temp-secret").get_object(
              Bucket="media", Key="clips/a b.yuv")), "InvalidToken")
    anonymous = client(endpoint, config=botocore.config.Config(signature_version=UNSIGNED))
    check("botocore, unsigned public",
          anonymous.get_object(Bucket="open", Key="a.yuv")["Body"].read(), clip)
    check("botocore, unsigned private",
          error_code(lambda: anonymous.get_object(Bucket="media", Key="clips/a b.yuv")),
          "AccessDenied")

    # A request signed by botocore for one object, sent for another.
    request = botocore.awsrequest.AWSRequest(method="GET", url=f"{endpoint}/open/a.yuv")
    botocore.auth.S3SigV4Auth(botocore.credentials.Credentials("AKIDTEST", "secret/key+1"), "s3",
                              "eu-west-3").add_auth(request)
    prepared = request.prepare()
    for path, wanted in (("/open/a.yuv", 200), ("/media/clips/a%20b.yuv", 403)):
        try:
            status = urllib.request.urlopen(urllib.request.Request(
                endpoint + path, headers=dict(prepared.headers))).status
        except urllib.error.HTTPError as error:
            status = error.code
        check(f"a signature for /open/a.yuv sent for {path}", status, wanted)


if __name__ == "__main__":
    main()
