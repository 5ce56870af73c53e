from alembic import context
