from airflow import DAG
