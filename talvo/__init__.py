"""talvo: PostgreSQL administration from the command line.

The program itself lives in the compiled module ``talvo.talvo``; importing
this package does not load it, so ``import talvo`` stays cheap.
"""
