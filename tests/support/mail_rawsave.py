# aiosmtpd handler: each message's DATA bytes (dots unstuffed) in OUTDIR/msgN.eml, then its envelope in msgN.env.
import os


class RawSave:
    def __init__(self, outdir):
        self.outdir, self.n = outdir, 0
        os.makedirs(outdir, exist_ok=True)

    async def handle_DATA(self, server, session, envelope):
        self.n += 1
        base = os.path.join(self.outdir, f"msg{self.n}")
        with open(base + ".eml", "wb") as eml, open(base + ".tmp", "w") as env:
            eml.write(envelope.original_content)
            env.write(f"HELO {session.host_name}\nMAIL FROM {envelope.mail_from}\n")
            env.writelines(f"RCPT TO {r}\n" for r in envelope.rcpt_tos)
        os.rename(base + ".tmp", base + ".env")
        return "250 Message accepted for delivery"

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(*args)
