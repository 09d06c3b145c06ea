# aiosmtpd handler for the mail tests: keeps each message's DATA bytes as
# received (after dot-unstuffing) in OUTDIR/msgN.eml and its envelope in
# OUTDIR/msgN.env.
import itertools
import os


class RawSave:
    def __init__(self, outdir):
        self.outdir = outdir
        os.makedirs(outdir, exist_ok=True)
        self.n = itertools.count(1)

    async def handle_DATA(self, server, session, envelope):
        i = next(self.n)
        with open(os.path.join(self.outdir, f"msg{i}.env.tmp"), "w") as f:
            f.write(f"HELO {session.host_name}\nMAIL FROM {envelope.mail_from}\n")
            for r in envelope.rcpt_tos:
                f.write(f"RCPT TO {r}\n")
        with open(os.path.join(self.outdir, f"msg{i}.eml"), "wb") as f:
            f.write(envelope.original_content)
        os.rename(os.path.join(self.outdir, f"msg{i}.env.tmp"), os.path.join(self.outdir, f"msg{i}.env"))
        return "250 Message accepted for delivery"

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(*args)
