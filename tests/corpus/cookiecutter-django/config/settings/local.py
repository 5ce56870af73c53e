from .base import *  # noqa: F403
DEBUG = True
