#!/usr/bin/env python3
"""A small S3-compatible object store for the tests: path-style GET and HEAD
of ROOT/BUCKET/KEY, with byte ranges, ETags (the MD5 of the object) and
If-Match, every request's AWS Signature Version 4 checked as S3 checks it.

    object_store.py PORT ROOT LOG [--key ID:SECRET[:TOKEN]]... [--public BUCKET]...
        [--region REGION]

A bucket named by --public may be read without a signature; any other
needs one made with a --key (and its session token, where it has one).
Each request is logged to LOG: method, path, status, Range, the key that
signed it ("-" for none)."""

import argparse
import datetime
import hashlib
import hmac
import os
import re
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

EMPTY_HASH = hashlib.sha256(b"").hexdigest()
LOG_LOCK = threading.Lock()


def sign(key, text):
    return hmac.new(key, text.encode(), hashlib.sha256).digest()


def signature(secret, date, region, service, string_to_sign):
    key = sign(("AWS4" + secret).encode(), date)
    key = sign(key, region)
    key = sign(key, service)
    key = sign(key, "aws4_request")
    return hmac.new(key, string_to_sign.encode(), hashlib.sha256).hexdigest()


def canonical_query(query):
    pairs = urllib.parse.parse_qsl(query, keep_blank_values=True)
    quote = lambda text: urllib.parse.quote(text, safe="-_.~")
    return "&".join(f"{quote(k)}={quote(v)}" for k, v in sorted(pairs))


class Refusal(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status, self.code, self.message = status, code, message


class Store(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestStore/1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.answer(body=True)

    def do_HEAD(self):
        self.answer(body=False)

    def answer(self, body):
        signer = "-"
        try:
            signer = self.check_signature()
            path = self.object_path()
            self.send_object(path, body)
            status = self.sent_status
        except Refusal as refusal:
            self.refuse(refusal, body)
            status = refusal.status
        except (BrokenPipeError, ConnectionResetError):
            status = "cut"
        with LOG_LOCK, open(self.server.log, "a") as log:
            path = self.path.split("?")[0]
            log.write(f'{self.command} {path} {status} "{self.headers.get("Range", "-")}" '
                      f'{signer}\n')

    def object_path(self):
        parts = urllib.parse.unquote(self.path.split("?")[0]).lstrip("/").split("/", 1)
        bucket = os.path.join(self.server.root, parts[0])
        if not parts[0] or not os.path.isdir(bucket):
            raise Refusal(404, "NoSuchBucket", "The specified bucket does not exist")
        path = os.path.normpath(os.path.join(bucket, parts[1] if len(parts) > 1 else ""))
        if not path.startswith(bucket + os.sep) or not os.path.isfile(path):
            raise Refusal(404, "NoSuchKey", "The specified key does not exist.")
        return path

    def check_signature(self):
        authorization = self.headers.get("Authorization")
        bucket = urllib.parse.unquote(self.path).lstrip("/").split("/", 1)[0]
        if authorization is None:
            if bucket in self.server.public:
                return "-"
            raise Refusal(403, "AccessDenied", "Access Denied")
        match = re.fullmatch(r"AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request,"
                             r" ?SignedHeaders=([a-z0-9;-]+), ?Signature=([0-9a-f]{64})",
                             authorization)
        if match is None:
            raise Refusal(400, "AuthorizationHeaderMalformed", "The authorization header is "
                          "malformed")
        key_id, date, region, signed, given = match.groups()
        if key_id not in self.server.keys:
            raise Refusal(403, "InvalidAccessKeyId", "The AWS Access Key Id you provided does "
                          "not exist in our records.")
        if region != self.server.region:
            raise Refusal(400, "AuthorizationHeaderMalformed", f"the region '{region}' is wrong; "
                          f"expecting '{self.server.region}'")
        secret, token = self.server.keys[key_id]
        amz_date = self.headers.get("x-amz-date", "")
        try:
            when = datetime.datetime.strptime(amz_date, "%Y%m%dT%H%M%SZ").replace(
                tzinfo=datetime.timezone.utc)
        except ValueError:
            raise Refusal(403, "AccessDenied", "AWS authentication requires a valid Date or "
                          "x-amz-date header")
        if abs((datetime.datetime.now(datetime.timezone.utc) - when).total_seconds()) > 900 \
                or amz_date[:8] != date:
            raise Refusal(403, "RequestTimeTooSkewed", "The difference between the request time "
                          "and the current time is too large.")
        payload = self.headers.get("x-amz-content-sha256")
        if payload is None:
            raise Refusal(400, "InvalidRequest", "Missing required header for this request: "
                          "x-amz-content-sha256")
        if payload not in (EMPTY_HASH, "UNSIGNED-PAYLOAD"):
            raise Refusal(400, "XAmzContentSHA256Mismatch", "The provided "
                          "'x-amz-content-sha256' header does not match what was computed.")
        names = signed.split(";")
        amz_headers = {name.lower() for name in self.headers.keys()
                       if name.lower().startswith("x-amz-")}
        if "host" not in names or not amz_headers <= set(names):
            raise Refusal(403, "AccessDenied", "There were headers present in the request "
                          "which were not signed")
        if token is not None and self.headers.get("x-amz-security-token") != token:
            raise Refusal(403, "InvalidToken", "The provided token is malformed or otherwise "
                          "invalid.")
        headers = "".join(
            f"{name}:{' '.join(self.headers.get(name, '').split())}\n" for name in names)
        path, _, query = self.path.partition("?")
        canonical = "\n".join([self.command, path, canonical_query(query), headers, signed,
                               payload])
        scope = f"{date}/{region}/s3/aws4_request"
        to_sign = "\n".join(["AWS4-HMAC-SHA256", amz_date, scope,
                             hashlib.sha256(canonical.encode()).hexdigest()])
        if not hmac.compare_digest(signature(secret, date, region, "s3", to_sign), given):
            raise Refusal(403, "SignatureDoesNotMatch", "The request signature we calculated "
                          "does not match the signature you provided.")
        return key_id

    def send_object(self, path, body):
        with open(path, "rb") as source:
            data_length = os.fstat(source.fileno()).st_size
            etag = '"' + hashlib.md5(source.read()).hexdigest() + '"'
            if_match = self.headers.get("If-Match")
            if if_match is not None and if_match != "*" and etag not in \
                    [tag.strip() for tag in if_match.split(",")]:
                raise Refusal(412, "PreconditionFailed", "At least one of the pre-conditions "
                              "you specified did not hold")
            first, last = 0, data_length - 1
            ranged = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
            if ranged:
                first = int(ranged.group(1))
                if ranged.group(2):
                    last = min(int(ranged.group(2)), data_length - 1)
                if first >= data_length:
                    self.extra = {"Content-Range": f"bytes */{data_length}"}
                    raise Refusal(416, "InvalidRange", "The requested range is not satisfiable")
            self.sent_status = 206 if ranged else 200
            self.send_response(self.sent_status)
            self.send_header("ETag", etag)
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("Content-Type", "binary/octet-stream")
            self.send_header("Content-Length", str(last - first + 1))
            if ranged:
                self.send_header("Content-Range", f"bytes {first}-{last}/{data_length}")
            self.end_headers()
            if body:
                source.seek(first)
                left = last - first + 1
                while left > 0:
                    chunk = source.read(min(left, 1 << 20))
                    if not chunk:
                        break
                    self.wfile.write(chunk)
                    left -= len(chunk)

    def refuse(self, refusal, body):
        text = (f'<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>{refusal.code}</Code>'
                f"<Message>{refusal.message}</Message></Error>").encode()
        self.send_response(refusal.status)
        for name, value in getattr(self, "extra", {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", "application/xml")
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        if body:
            self.wfile.write(text)


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument("port", type=int)
    arguments.add_argument("root")
    arguments.add_argument("log")
    arguments.add_argument("--key", action="append", default=[])
    arguments.add_argument("--public", action="append", default=[])
    arguments.add_argument("--region", default="us-east-1")
    options = arguments.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", options.port), Store)
    server.daemon_threads = True
    server.root = os.path.realpath(options.root)
    server.log = options.log
    server.public = set(options.public)
    server.region = options.region
    server.keys = {}
    for key in options.key:
        parts = key.split(":")
        server.keys[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else None)
    server.serve_forever()


if __name__ == "__main__":
    main()
