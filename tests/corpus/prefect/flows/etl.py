from prefect import flow

@flow
def etl():
    pass
