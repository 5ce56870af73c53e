def test_cluster_accepts_password_logins_over_tcp(pg):
    assert pg.psql("SELECT current_user") == "postgres"
    assert pg.psql("SHOW password_encryption") == "scram-sha-256"
