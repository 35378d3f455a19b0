import sys

from vellum_tools.cli import main

sys.exit(main())
