from app import app
