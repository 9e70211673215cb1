"""``python -m folio_worker``: the folio-worker command."""

import sys

from folio_worker.cli import main

sys.exit(main())
