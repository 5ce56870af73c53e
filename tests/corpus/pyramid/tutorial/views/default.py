from pyramid.view import view_config
