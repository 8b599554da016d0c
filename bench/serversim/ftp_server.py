#!/usr/bin/python3
"""The bench's FTP server: one upload account whose files land in a root folder.

Prints its port on the first line of standard output and runs until standard input
closes, so it never outlives the bench server that started it.
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--command-log", required=True)
    parser.add_argument("--certificate")
    parser.add_argument("--key")
    parser.add_argument("--data-certificate")
    parser.add_argument("--data-key")
    parser.add_argument("--read-only", action="store_true")
    parser.add_argument("--refuse-stores", type=int, default=0)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root,
                        perm="elr" if args.read_only else "elradfmwMT")

    base = FTPHandler
    if args.certificate:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        base = TLS_FTPHandler

        data_context = None
        if args.data_certificate:
            from OpenSSL import SSL

            data_context = SSL.Context(SSL.SSLv23_METHOD)
            data_context.use_certificate_chain_file(args.data_certificate)
            data_context.use_privatekey_file(args.data_key)

        class DataHandler(TLS_DTPHandler):
            # libcurl starts TLS on the data connection before it names the transfer; the
            # stock handler takes bytes that come that early for a hang-up.
            def readable(self):
                if self._ssl_accepting and not self._initialized:
                    return True
                return super().readable()

            # A data connection that shows another certificate than the control one: a
            # client finds out only after it has logged in.
            def secure_connection(self, ssl_context):
                return super().secure_connection(data_context or ssl_context)

    command_log = open(args.command_log, "a", buffering=1)

    refused = {"left": args.refuse_stores}

    class Handler(base):
        # Every command word as it arrives, so tests can tell whether an account ever came.
        def pre_process_command(self, line, cmd, arg):
            command_log.write(cmd + "\n")
            return super().pre_process_command(line, cmd, arg)

        # A server that fails a store on its side (a full or failing disk) before it
        # opens the data connection.
        def ftp_STOR(self, file, mode="w"):
            if refused["left"] > 0:
                refused["left"] -= 1
                self.respond("451 Requested action aborted: local error in processing.")
                return None
            return super().ftp_STOR(file, mode)

    if args.certificate:
        Handler.certfile = args.certificate
        Handler.keyfile = args.key
        # No account and no file ever crosses in clear.
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        Handler.dtp_handler = DataHandler
    Handler.authorizer = authorizer
    Handler.banner = "zarvik bench FTP"
    server = FTPServer(("127.0.0.1", args.port), Handler)
    print(server.socket.getsockname()[1], flush=True)

    def watch_parent():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever(timeout=0.5, handle_exit=False)


if __name__ == "__main__":
    main()
