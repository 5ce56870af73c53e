select id as order_id, user_id as customer_id from {{ source('jaffle_shop', 'orders') }}
